#include "app/TerminalLines.h"

#include <poll.h>
#include <unistd.h>

#include <csignal>

#include "protocol/wire/ReportPayload.h"

namespace plimo {

namespace {

// How often the reader looks whether it should stop: destruction waits at
// most this long.
constexpr int kPollMs = 100;
// Longer than any answer, a report's whole description included: the
// terminal takes what the window takes.
constexpr size_t kMaxLine = ReportPayload::kMaxPayload;

}  // namespace

TerminalLines::TerminalLines(EventLoop& loop, int fd, std::function<void(const std::string&)> onLine)
    : loop_(loop), fd_(fd), onLine_(std::move(onLine)) {
  // Sent to the program put in the background: a read then fails instead of
  // stopping the helped PC with a helper connected.
  std::signal(SIGTTIN, SIG_IGN);
  thread_ = std::thread([this, weak = guard_.weak()] { run(weak); });
}

TerminalLines::~TerminalLines() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
}

void TerminalLines::run(const std::weak_ptr<TerminalLines>& weak) {
  std::string line;
  while (!stopping_) {
    pollfd p{fd_, POLLIN, 0};
    int ready = ::poll(&p, 1, kPollMs);
    if (ready <= 0) continue;
    char buffer[256];
    ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n <= 0) return;  // end of input (or a background program): nobody types here any more
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] != '\n') {
        // A line longer than any answer is not one; keep its start only.
        if (line.size() < kMaxLine) line += buffer[i];
        continue;
      }
      loop_.post([weak, text = std::move(line)] {
        if (auto self = weak.lock()) self->onLine_(text);
      });
      line.clear();
    }
  }
}

}  // namespace plimo
