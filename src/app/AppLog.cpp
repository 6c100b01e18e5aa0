#include "app/AppLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "core/Text.h"

namespace plimo {

namespace {

void writeAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += size_t(n);
  }
}

}  // namespace

std::string AppLog::formatLocalTime(double wallTime) {
  time_t seconds = time_t(wallTime);
  tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

void AppLog::write(std::string_view line, double wallTime) const {
  // Lines carry partners' names and the server's words: printable, so none
  // can start a line of its own or colour a terminal that shows the log.
  std::string record = formatLocalTime(wallTime) + "  " + printable(line) + "\n";
  int fd = ::open(url_.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    // Only this user may read it: it names partners, addresses and IDs.
    fd = ::open(url_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return;
    writeAll(fd, record);
    ::close(fd);
    return;
  }
  off_t end = ::lseek(fd, 0, SEEK_END);
  if (end > maxBytes) {
    if (::ftruncate(fd, 0) == 0) ::lseek(fd, 0, SEEK_SET);
  }
  if (end >= 0) writeAll(fd, record);
  ::close(fd);
}

}  // namespace plimo
