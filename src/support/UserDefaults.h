#pragma once
// Values given on the command line as "-name value" pairs: the start-up
// automation (reportTo, autoConnect, dumpPicture), the helper's picture kind
// ("-pictures tiles" keeps a helper to tiles) and an older server choice
// (relayHost, relayPort) that overrides the INI file.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plimo {

class UserDefaults {
 public:
  UserDefaults() = default;
  // Reads every "-name value" pair; other arguments are left alone.
  static UserDefaults fromArguments(const std::vector<std::string>& args);

  // The names the application reads.
  static constexpr std::string_view names[] = {"relayHost", "relayPort", "reportTo", "autoConnect",
                                               "dumpPicture", "pictures", "sendFile"};

  std::optional<std::string> string(std::string_view name) const;
  // The value as a decimal integer; none when missing or not a number.
  std::optional<int64_t> integer(std::string_view name) const;
  void set(std::string_view name, std::string value);

 private:
  std::map<std::string, std::string, std::less<>> values_;
};

}  // namespace plimo
