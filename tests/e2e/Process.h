#pragma once
// A child process for end-to-end tests: started with its own environment,
// standard output and error in a file the test reads, stopped with SIGTERM
// (SIGKILL after a grace period) when the test is done with it.

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testkit/TempDir.h"

namespace plimo::e2e {

using testkit::readFile;
using testkit::TempDir;

// Polls `done` every 20 ms until it holds or `seconds` pass.
template <typename Pred>
bool waitFor(Pred done, double seconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// In a forked child: the environment's additions, then `program` in place
// of the child (exit status 127 when it cannot run).
[[noreturn]] inline void execProgram(const std::string& program, const std::vector<std::string>& args,
                                     const std::map<std::string, std::string>& env) {
  for (auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execv(program.c_str(), argv.data());
  ::_exit(127);
}

class Process {
 public:
  Process(const std::string& program, const std::vector<std::string>& args, const std::string& outputFile,
          const std::map<std::string, std::string>& env = {})
      : output_(outputFile) {
    pid_ = ::fork();
    if (pid_ == 0) {
      // A test that crashes takes its servers and clients with it.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      int fd = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(fd, 1);
      ::dup2(fd, 2);
      execProgram(program, args, env);
    }
  }
  ~Process() { stop(); }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  std::string output() const { return readFile(output_); }
  pid_t pid() const { return pid_; }
  bool waitForOutput(const std::string& part, double seconds) const {
    return waitFor([&] { return output().find(part) != std::string::npos; }, seconds);
  }
  // True while the process runs.
  bool running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      exitStatus_ = status;
      pid_ = -1;
      return false;
    }
    return true;
  }
  // SIGTERM, then SIGKILL after 5 s. Returns the wait status.
  int stop() {
    if (!running()) return exitStatus_;
    ::kill(pid_, SIGTERM);
    if (!waitFor([&] { return !running(); }, 5)) {
      ::kill(pid_, SIGKILL);
      waitFor([&] { return !running(); }, 5);
    }
    return exitStatus_;
  }
  // Ends it without a chance to say goodbye.
  void kill() {
    if (!running()) return;
    ::kill(pid_, SIGKILL);
    waitFor([&] { return !running(); }, 5);
  }

 private:
  std::string output_;
  pid_t pid_ = -1;
  int exitStatus_ = 0;
};

// A memory figure of a running process in kB ("VmRSS:" now, "VmHWM:" at
// its peak), -1 when it cannot be read.
inline long statusKb(pid_t pid, const std::string& field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(field.size()));
  }
  return -1;
}
inline long residentKb(pid_t pid) { return statusKb(pid, "VmRSS:"); }

// User plus system CPU seconds a running process has used (all its threads).
inline double cpuSeconds(pid_t pid) {
  std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  size_t at = stat.rfind(')');
  if (at == std::string::npos) return 0;
  std::istringstream fields(stat.substr(at + 2));
  std::string skip;
  for (int i = 0; i < 11; ++i) fields >> skip;  // state .. cmajflt
  double utime = 0, stime = 0;
  fields >> utime >> stime;
  return (utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

// A program of this build tree, or "" when it was not built.
inline std::string builtProgram(const std::string& relative) {
  const char* dir = std::getenv("PLIMO_BINARY_DIR");
#ifdef PLIMO_BINARY_DIR
  if (!dir) dir = PLIMO_BINARY_DIR;
#endif
  std::string path = std::string(dir ? dir : ".") + "/" + relative;
  return ::access(path.c_str(), X_OK) == 0 ? path : std::string();
}

}  // namespace plimo::e2e
