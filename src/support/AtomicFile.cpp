#include "support/AtomicFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>

namespace plimo {

Result<void> writeFileAtomically(const std::filesystem::path& path, std::string_view text) {
  auto lastError = [] { return std::error_code(errno, std::generic_category()); };
  // mkstemp makes the file 0600: Plimo.ini holds the ID secret.
  std::string temp = (path.parent_path() / (path.filename().string() + ".XXXXXX")).string();
  int fd = mkstemp(temp.data());
  if (fd < 0) return Failed{lastError().message()};
  std::error_code error;
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? lastError() : std::make_error_code(std::errc::no_space_on_device);
      break;
    }
    done += size_t(n);
  }
  if (!error && ::fsync(fd) != 0) error = lastError();
  if (::close(fd) != 0 && !error) error = lastError();
  if (!error && ::rename(temp.c_str(), path.c_str()) != 0) error = lastError();
  if (error) {
    ::unlink(temp.c_str());
    return Failed{error.message()};
  }
  // The rename itself must reach the disk too, or a crash may bring back the
  // old file.
  std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
  if (int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return {};
}

}  // namespace plimo
