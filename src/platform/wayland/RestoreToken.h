#pragma once
// The ScreenCast portal's restore token, kept in a file of its own beside
// Plimo.ini, readable by this user only. The desktop accepts a token once
// and gives a new one with each share, so `take` empties the file and
// `keep` writes the new token.

#include <filesystem>
#include <optional>
#include <string>

namespace plimo {

class RestoreToken {
 public:
  explicit RestoreToken(std::filesystem::path file) : file_(std::move(file)) {}

  // The kept token, once; nothing when there is none or the file holds no
  // plausible token (it is read as outside bytes).
  std::optional<std::string> take();
  // An empty token forgets. False when the file cannot be written.
  bool keep(const std::string& token);

  // At most 256 printable characters, no spaces: a token the portal made.
  static bool plausible(const std::string& token);

 private:
  std::filesystem::path file_;
};

}  // namespace plimo
