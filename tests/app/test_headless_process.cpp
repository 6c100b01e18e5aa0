// The real binary, headless and with its windows: start, first log line,
// clean exit on SIGTERM and SIGINT; the options that end at once, the
// refused ones and the switches written to Plimo.ini.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/IniFile.h"
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

struct Ran {
  int status = -1;  // the exit status, -1 when it did not exit by itself
  std::string out, err;
};

// Runs the binary to its end without a display, output to files.
Ran runToEnd(const TempDir& home, const std::vector<std::string>& args) {
  pid_t child = fork();
  if (child == 0) {
    setenv("PLIMO_HOME", home.path().c_str(), 1);
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) unsetenv(name);
    if (!freopen((home / "out.txt").c_str(), "w", stdout) || !freopen((home / "err.txt").c_str(), "w", stderr))
      _exit(126);
    std::string binary = plimoBinary();
    std::vector<char*> argv{binary.data()};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  int status = waitExit(child, 20);
  return {status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(home / "out.txt"),
          readFile(home / "err.txt")};
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

// Whatever the arguments, an answer and an exit status, never an abort:
// help and version without a display, refusals with the usage, and windows
// without a display named as such.
TEST(HeadlessProcess, OptionsThatEndAtOnceAndRefusals) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* out;  // in standard output
    const char* err;  // in standard error
  };
  const Case cases[] = {
      {{"--help"}, 0, "--keep-id on|off", ""},
      {{"--headless", "--help"}, 0, "Usage: plimo", ""},
      {{"--version"}, 0, "Plimo for Linux 0.", ""},
      {{"--bogus"}, 2, "", "plimo: unknown option --bogus\n\nUsage: plimo"},
      {{"--headless", "-autoconnect", "123456789"}, 2, "", "unknown option -autoconnect"},
      {{"--headless", "-autoConnect"}, 2, "", "-autoConnect needs a value"},
      {{"--keep-id", "yes"}, 2, "", "--keep-id takes on or off"},
      {{"--keep-id", "off", "--unattended", "on"}, 2, "", "unattended access needs the ID kept"},
      {{"extra"}, 2, "", "unexpected argument extra"},
      {{}, 2, "",
       "plimo: the windows need a display (DISPLAY or WAYLAND_DISPLAY); plimo --headless runs without one\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "no arguments" : c.args[0]);
    TempDir home;
    Ran ran = runToEnd(home, c.args);
    EXPECT_EQ(ran.status, c.status);
    EXPECT_NE(ran.out.find(c.out), std::string::npos) << ran.out;
    EXPECT_NE(ran.err.find(c.err), std::string::npos) << ran.err;
    EXPECT_FALSE(std::filesystem::exists(home / "Plimo.log")) << "a client started";
  }
}

TEST(HeadlessProcess, SwitchesAreWrittenToPlimoIniAndEnd) {
  TempDir home;
  auto ini = [&](const char* section, const char* key) {
    IniFile file(home / "Plimo.ini");
    file.load();
    return file.string(section, key, "");
  };
  Ran ran = runToEnd(home, {"--unattended", "on"});
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_NE(ran.out.find("Unattended access is on"), std::string::npos) << ran.out;
  EXPECT_EQ(ini("Session", "Unattended"), "1");
  const std::string secret = ini("ID", "Secret");
  EXPECT_EQ(secret.size(), 64u);
  ran = runToEnd(home, {"--keep-id", "on"});
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_EQ(ini("ID", "Secret"), secret);  // kept already: the same secret
  ran = runToEnd(home, {"--keep-id", "off"});
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_EQ(ini("Session", "Unattended"), "0");
  EXPECT_EQ(ini("ID", "Secret"), "");
  EXPECT_FALSE(std::filesystem::exists(home / "Plimo.log"));
}
