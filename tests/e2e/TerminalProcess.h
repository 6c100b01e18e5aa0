#pragma once
// A child process on a terminal of its own (a pseudo-terminal), as a person
// would start it: its standard input, output and error are the terminal and
// it runs in the terminal's foreground. The test reads everything it writes
// and types lines into it. Stopped like Process: SIGTERM, SIGKILL later.

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "e2e/Process.h"

namespace plimo::e2e {

class TerminalProcess {
 public:
  TerminalProcess(const std::string& program, const std::vector<std::string>& args,
                  const std::map<std::string, std::string>& env = {}) {
    // Raw: no echo and no CR before each LF, so the output reads as the
    // program wrote it; the program splits typed lines itself.
    termios mode{};
    cfmakeraw(&mode);
    pid_ = ::forkpty(&master_, nullptr, &mode, nullptr);
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      execProgram(program, args, env);
    }
    if (pid_ > 0) reader_ = std::thread([this] { read(); });
  }
  ~TerminalProcess() {
    stop();
    stopping_ = true;
    if (reader_.joinable()) reader_.join();
    if (master_ >= 0) ::close(master_);
  }
  TerminalProcess(const TerminalProcess&) = delete;
  TerminalProcess& operator=(const TerminalProcess&) = delete;

  std::string output() const {
    std::lock_guard<std::mutex> hold(lock_);
    return output_;
  }
  bool waitForOutput(const std::string& part, double seconds) const {
    return waitFor([&] { return output().find(part) != std::string::npos; }, seconds);
  }
  pid_t pid() const { return pid_; }
  // Types `line` and Enter.
  void type(const std::string& line) {
    std::string text = line + "\n";
    [[maybe_unused]] auto n = ::write(master_, text.data(), text.size());
  }
  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    if (!waitFor([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, 5)) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }

 private:
  void read() {
    char buffer[4096];
    while (!stopping_) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n <= 0) return;  // the program and its terminal are gone
      std::lock_guard<std::mutex> hold(lock_);
      output_.append(buffer, size_t(n));
    }
  }

  int master_ = -1;
  pid_t pid_ = -1;
  std::atomic<bool> stopping_{false};
  mutable std::mutex lock_;
  std::string output_;
  std::thread reader_;
};

}  // namespace plimo::e2e
