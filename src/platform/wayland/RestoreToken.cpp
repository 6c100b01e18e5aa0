#include "platform/wayland/RestoreToken.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <system_error>

namespace plimo {

namespace {

constexpr size_t kLongest = 256;

}  // namespace

bool RestoreToken::plausible(const std::string& token) {
  if (token.empty() || token.size() > kLongest) return false;
  for (unsigned char c : token)
    if (c <= ' ' || c >= 0x7f) return false;
  return true;
}

std::optional<std::string> RestoreToken::take() {
  int fd = open(file_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return std::nullopt;
  char buffer[kLongest + 2];
  ssize_t n = read(fd, buffer, sizeof buffer);
  close(fd);
  std::error_code ignored;
  std::filesystem::remove(file_, ignored);
  if (n <= 0) return std::nullopt;
  std::string token(buffer, size_t(n));
  if (!token.empty() && token.back() == '\n') token.pop_back();
  if (!plausible(token)) return std::nullopt;
  return token;
}

bool RestoreToken::keep(const std::string& token) {
  std::error_code ignored;
  if (token.empty() || !plausible(token)) {
    std::filesystem::remove(file_, ignored);
    return token.empty();
  }
  std::filesystem::create_directories(file_.parent_path(), ignored);
  const std::filesystem::path part = file_.string() + ".part";
  std::filesystem::remove(part, ignored);
  int fd = open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  const std::string text = token + "\n";
  bool written = write(fd, text.data(), text.size()) == ssize_t(text.size()) && fsync(fd) == 0;
  written = close(fd) == 0 && written;
  if (written && rename(part.c_str(), file_.c_str()) == 0) return true;
  std::filesystem::remove(part, ignored);
  return false;
}

}  // namespace plimo
