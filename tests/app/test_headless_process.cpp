// The real binary, headless and with its windows: start, first log line,
// clean exit on SIGTERM and SIGINT.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "testkit/TempDir.h"

using namespace plimo;
using testkit::readFile;
using testkit::TempDir;

namespace {

std::string plimoBinary() { return PLIMO_BINARY_DIR "/src/plimo"; }

pid_t start(const TempDir& home, bool windows) {
  pid_t child = fork();
  if (child == 0) {
    setenv("PLIMO_HOME", home.path().c_str(), 1);
    // Windows without a display: Qt's offscreen platform.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::string binary = plimoBinary();
    if (windows)
      execl(binary.c_str(), binary.c_str(), nullptr);
    else
      execl(binary.c_str(), binary.c_str(), "--headless", nullptr);
    _exit(127);
  }
  return child;
}

// Waits for the child's exit up to `seconds`; returns its wait status or -1.
int waitExit(pid_t child, double seconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  int status = 0;
  while (std::chrono::steady_clock::now() < end) {
    if (waitpid(child, &status, WNOHANG) == child) return status;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(child, SIGKILL);
  waitpid(child, &status, 0);
  return -1;
}

bool waitForLog(const TempDir& home, double seconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (readFile(home / "Plimo.log").find("started") != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace

TEST(HeadlessProcess, WritesStartLineAndEndsCleanlyOnSignals) {
#ifdef PLIMO_GUI
  const bool withWindows[] = {false, true};
#else
  const bool withWindows[] = {false};
#endif
  for (bool windows : withWindows) {
    for (int signal : {SIGTERM, SIGINT}) {
      SCOPED_TRACE(windows ? "windows" : "headless");
      TempDir home;
      pid_t child = start(home, windows);
      ASSERT_GT(child, 0);
      ASSERT_TRUE(waitForLog(home, 20)) << "no start line";
      std::string log = readFile(home / "Plimo.log");
      std::string first = log.substr(0, log.find('\n'));
      EXPECT_NE(first.find("  --- Plimo for Linux started (version "), std::string::npos) << first;

      auto sent = std::chrono::steady_clock::now();
      kill(child, signal);
      int status = waitExit(child, 5);
      double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
      ASSERT_NE(status, -1) << "did not exit";
      EXPECT_TRUE(WIFEXITED(status)) << status;
      EXPECT_EQ(WEXITSTATUS(status), 0);
      // Reported, not asserted: a loaded CI machine may be slow.
      RecordProperty("exit_seconds", std::to_string(took));
    }
  }
}
