#pragma once
// What `plimo` was asked to do by its arguments, read before anything starts:
// the run (windows, headless, the connection test, help, version), the
// switches it writes to Plimo.ini (--keep-id, --unattended), and the
// "-name value" pairs of UserDefaults. Anything else is refused, so a
// mistyped option never starts a client that does something else.

#include <optional>
#include <string>
#include <vector>

#include "core/Result.h"

namespace plimo {

class IniFile;
struct AppSettings;

struct CommandLine {
  enum class Run { windows, headless, connectionTest, help, version, switchesOnly };

  Run run = Run::windows;
  std::optional<bool> keepID;
  std::optional<bool> unattended;
  // Why the arguments are refused (the usage follows it); empty when they are not.
  std::string error;

  static CommandLine parse(const std::vector<std::string>& args);
  // The text of --help.
  static std::string usage();
  // Windows can open: a display to reach, or a Qt platform named for them.
  static bool hasDisplay();

  // Writes the switches to `ini` through `settings` (loaded from it) and
  // saves it; the lines say what this PC does from now on.
  Result<std::vector<std::string>> writeSwitches(IniFile& ini, AppSettings settings) const;
};

}  // namespace plimo
