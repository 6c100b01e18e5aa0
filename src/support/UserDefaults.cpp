#include "support/UserDefaults.h"

#include "core/Text.h"

namespace plimo {

UserDefaults UserDefaults::fromArguments(const std::vector<std::string>& args) {
  UserDefaults defaults;
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 2 || arg[0] != '-' || arg[1] == '-') continue;
    std::string_view name = std::string_view(arg).substr(1);
    for (std::string_view known : names) {
      if (name == known) {
        defaults.set(name, args[i + 1]);
        ++i;
        break;
      }
    }
  }
  return defaults;
}

std::optional<std::string> UserDefaults::string(std::string_view name) const {
  auto it = values_.find(name);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

std::optional<int64_t> UserDefaults::integer(std::string_view name) const {
  auto text = string(name);
  if (!text) return std::nullopt;
  return parseDecimal(trimBlanks(*text));
}

void UserDefaults::set(std::string_view name, std::string value) { values_[std::string(name)] = std::move(value); }

}  // namespace plimo
