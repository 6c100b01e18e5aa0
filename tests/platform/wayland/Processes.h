#pragma once
// Child processes for the Wayland tests: their standard output read line by
// line with a deadline, their standard input held open (closing it ends the
// headless desktop), killed with their process group when they go.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace plimo::testing {

class Child {
 public:
  explicit Child(const std::vector<std::string>& argv) {
    int out[2], in[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(in, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      dup2(in[0], 0);
      dup2(out[1], 1);
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
    close(out[1]);
    close(in[0]);
    out_ = out[0];
    in_ = in[1];
  }
  ~Child() {
    if (in_ >= 0) close(in_);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i) usleep(20000);
      kill(-pid_, SIGKILL);
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    if (out_ >= 0) close(out_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // The next line of its output; nothing once it ends or `seconds` pass.
  std::optional<std::string> line(double seconds = 10) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (true) {
      if (auto end = buffer_.find('\n'); end != std::string::npos) {
        std::string text = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return text;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, int(left.count())) <= 0) continue;
      char chunk[4096];
      ssize_t n = read(out_, chunk, sizeof chunk);
      if (n <= 0) return std::nullopt;
      buffer_.append(chunk, size_t(n));
    }
  }

  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1, in_ = -1;
  std::string buffer_;
};

// tests/platform/wayland/headless-desktop for one test: its environment is
// this process's while it runs.
class HeadlessDesktop {
 public:
  HeadlessDesktop() : script_({PLIMO_SOURCE_DIR "/tests/platform/wayland/headless-desktop"}) {
    while (auto text = script_.line(30)) {
      if (*text == "READY") {
        ready_ = true;
        break;
      }
      auto eq = text->find('=');
      if (eq == std::string::npos) continue;
      if (text->substr(0, eq) == "MUTTER_PID") mutter_ = std::atoi(text->c_str() + eq + 1);
      else setenv(text->substr(0, eq).c_str(), text->substr(eq + 1).c_str(), 1);
    }
    unsetenv("DISPLAY");
  }
  bool ready() const { return ready_; }
  // Takes the desktop away, as a crash would.
  void stopCompositor() {
    if (mutter_ > 0) kill(mutter_, SIGKILL);
  }

 private:
  Child script_;
  bool ready_ = false;
  pid_t mutter_ = -1;
};

}  // namespace plimo::testing
