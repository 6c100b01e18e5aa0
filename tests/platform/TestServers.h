#pragma once
// Real servers for the platform tests, each private to the test that starts
// it: an Xvfb on a free display number, a PulseAudio daemon with a null sink
// on its own socket. Starting one points $DISPLAY or $PULSE_SERVER at it.

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <system_error>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace plimo::testing {

inline bool onPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t from = 0;
  while (from <= dirs.size()) {
    size_t to = dirs.find(':', from);
    if (to == std::string::npos) to = dirs.size();
    std::string candidate = dirs.substr(from, to - from) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return true;
    from = to + 1;
  }
  return false;
}

// Runs argv with its output to /dev/null, keeping `keepFd` open.
inline pid_t spawn(const std::vector<std::string>& argv, int keepFd = -1) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  // A test that crashes takes its servers with it.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  int devnull = open("/dev/null", O_RDWR);
  dup2(devnull, 0);
  dup2(devnull, 1);
  dup2(devnull, 2);
  for (int fd = 3; fd < 256; ++fd) {
    if (fd != keepFd) close(fd);
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

inline void reap(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  for (int i = 0; i < 200; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) {
      pid = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  pid = -1;
}

class Xvfb {
 public:
  // Empty `extra` or e.g. {"-extension", "XTEST"} to leave one out.
  explicit Xvfb(int width = 1920, int height = 1080, std::vector<std::string> extra = {}) {
    if (!onPath("Xvfb")) return;
    int fds[2];
    if (pipe(fds) != 0) return;
    std::vector<std::string> argv = {"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                                     std::to_string(width) + "x" + std::to_string(height) + "x24",
                                     "-nolisten", "tcp", "-noreset"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    pid_ = spawn(argv, fds[1]);
    close(fds[1]);
    std::string number;
    char c;
    // Xvfb writes the number once it accepts connections.
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) {
      reap(pid_);
      return;
    }
    name_ = ":" + number;
    setenv("DISPLAY", name_.c_str(), 1);
  }
  ~Xvfb() { reap(pid_); }
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;

  bool running() const { return !name_.empty(); }
  const std::string& name() const { return name_; }
  void kill() { reap(pid_); }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

class PulseServer {
 public:
  PulseServer() {
    if (!onPath("pulseaudio")) return;
    char dir[] = "/tmp/plimo-pulse.XXXXXX";
    if (!mkdtemp(dir)) return;
    dir_ = dir;
    socket_ = dir_ + "/native";
    setenv("PULSE_RUNTIME_PATH", dir_.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    setenv("HOME", dir_.c_str(), 1);  // its cookie and state stay in here
    pid_ = spawn({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                  "--use-pid-file=no", "--load=module-null-sink sink_name=plimo_null",
                  "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket_});
    for (int i = 0; i < 300; ++i) {
      struct stat st;
      if (stat(socket_.c_str(), &st) == 0) {
        setenv("PULSE_SERVER", ("unix:" + socket_).c_str(), 1);
        running_ = true;
        // The null sink was loaded before the socket opened; it is the default.
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    reap(pid_);
  }
  ~PulseServer() {
    reap(pid_);
    std::error_code ignored;  // a folder left behind in /tmp harms no later run
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  PulseServer(const PulseServer&) = delete;
  PulseServer& operator=(const PulseServer&) = delete;

  bool running() const { return running_; }

 private:
  pid_t pid_ = -1;
  std::string dir_;
  std::string socket_;
  bool running_ = false;
};

}  // namespace plimo::testing
