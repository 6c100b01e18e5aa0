#include "app/CommandLine.h"

#include <cstdlib>

#include "support/AppSettings.h"
#include "support/IniFile.h"
#include "support/UserDefaults.h"

namespace plimo {

namespace {

std::optional<bool> onOff(const std::string& word) {
  if (word == "on") return true;
  if (word == "off") return false;
  return std::nullopt;
}

bool isSet(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

}  // namespace

CommandLine CommandLine::parse(const std::vector<std::string>& args) {
  CommandLine line;
  bool headless = false, connectionTest = false;
  auto refuse = [&line](std::string why) {
    if (line.error.empty()) line.error = std::move(why);
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") return CommandLine{Run::help, {}, {}, {}};
    if (arg == "--version") return CommandLine{Run::version, {}, {}, {}};
    if (arg == "--headless") {
      headless = true;
    } else if (arg == "--connection-test") {
      connectionTest = true;
    } else if (arg == "--keep-id" || arg == "--unattended") {
      auto value = i + 1 < args.size() ? onOff(args[++i]) : std::nullopt;
      if (!value) refuse(arg + " takes on or off");
      (arg == "--keep-id" ? line.keepID : line.unattended) = value;
    } else if (arg.size() > 1 && arg[0] == '-' && arg[1] != '-') {
      bool known = false;
      for (std::string_view name : UserDefaults::names) known = known || arg.substr(1) == name;
      if (!known) refuse("unknown option " + arg);
      else if (++i >= args.size()) refuse(arg + " needs a value");
    } else {
      refuse((arg.starts_with("-") ? "unknown option " : "unexpected argument ") + arg);
    }
  }
  if (line.keepID == false && line.unattended == true) refuse("unattended access needs the ID kept");
  if (connectionTest) line.run = Run::connectionTest;
  else if (headless) line.run = Run::headless;
  else if (line.keepID || line.unattended) line.run = Run::switchesOnly;
  return line;
}

std::string CommandLine::usage() {
  return "Usage: plimo [OPTION]...\n"
         "Remote assistance through your company's Plimo server. Without options it opens its main window.\n"
         "\n"
         "  --headless            run without windows: the ID on standard output, the server\n"
         "                        status, chat and notices on standard error\n"
         "  --connection-test     print the connection report and end\n"
         "  --keep-id on|off      keep this PC's ID across restarts (or stop keeping it),\n"
         "                        written to Plimo.ini; ends unless --headless is given too\n"
         "  --unattended on|off   let trusted helpers in without asking (or ask again), written\n"
         "                        to Plimo.ini; on keeps the ID too; ends unless --headless\n"
         "  -relayHost HOST       the server for this run only\n"
         "  -relayPort N          the server's UDP port for this run only\n"
         "  -autoConnect ID       connect to that partner once registered\n"
         "  -reportTo PATH        write the connection report to PATH once registered\n"
         "  -dumpPicture PATH     as helper, save the partner's first picture as a PNG\n"
         "  -pictures tiles       as helper, ask for tiles only, never H.264 video\n"
         "  -sendFile PATH        offer that file to the partner once the session runs\n"
         "  --help                print this help and end\n"
         "  --version             print the version and end\n"
         "\n"
         "Settings and log: Plimo.ini and Plimo.log in $PLIMO_HOME, else $XDG_CONFIG_HOME/Plimo,\n"
         "else ~/.config/Plimo. See man plimo.\n";
}

bool CommandLine::hasDisplay() {
  return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY") || isSet("QT_QPA_PLATFORM");
}

Result<std::vector<std::string>> CommandLine::writeSwitches(IniFile& ini, AppSettings settings) const {
  std::vector<std::string> said;
  bool unattendedNow = unattended.value_or(AppSettings::unattended(ini));
  // The same rule the model keeps: unattended access goes with a kept ID.
  if (keepID == false && unattendedNow) {
    unattendedNow = false;
    said.push_back("Unattended access is off: it needs the ID kept.");
  }
  bool keep = keepID.value_or(!settings.pinSecret.empty()) || unattendedNow;
  if (keep != !settings.pinSecret.empty()) {
    settings.keepID(keep);
    said.push_back(keep ? "This PC keeps its ID from its next start on."
                        : "This PC no longer keeps its ID; it gets a new one at its next start.");
  } else if (keepID) {
    said.push_back(keep ? "This PC keeps its ID." : "This PC does not keep its ID.");
  }
  if (unattended) {
    said.push_back(unattendedNow ? "Unattended access is on: helpers the company trusts get in without a question."
                                 : "Unattended access is off: the person at this PC is asked.");
  }
  if (unattendedNow != AppSettings::unattended(ini)) AppSettings::setUnattended(ini, unattendedNow);
  if (auto saved = settings.save(ini); !saved)
    return Failed{"Could not save " + ini.url().string() + ": " + saved.error()};
  return said;
}

}  // namespace plimo
