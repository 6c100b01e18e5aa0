#pragma once
// `plimo --headless` as a real process with its own PLIMO_HOME.

#include <regex>
#include <string>
#include <vector>

#include "core/PlimoID.h"
#include "e2e/Process.h"
#include "e2e/TerminalProcess.h"

namespace plimo::e2e {

class HeadlessClient {
 public:
  // Writes `ini` as Plimo.ini into a fresh home (unless `keepHome` is given).
  HeadlessClient(const std::string& name, const std::string& ini) : home_(name) { writeIni(ini); }

  static std::string program() { return builtProgram("src/plimo"); }

  void writeIni(const std::string& ini) {
    std::FILE* f = std::fopen((home_ / "Plimo.ini").c_str(), "wb");
    std::fwrite(ini.data(), 1, ini.size(), f);
    std::fclose(f);
  }

  // `extra`: more arguments, such as "-autoConnect" and an ID.
  void start(const std::vector<std::string>& extra = {}) {
    ++runs_;
    std::vector<std::string> args = {"--headless"};
    args.insert(args.end(), extra.begin(), extra.end());
    process_ = std::make_unique<Process>(program(), args,
                                         home_ / ("stdout" + std::to_string(runs_) + ".txt"), environment());
  }
  // The same on a terminal of its own, where it asks its questions.
  void startOnTerminal(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"--headless"};
    args.insert(args.end(), extra.begin(), extra.end());
    terminal_ = std::make_unique<TerminalProcess>(program(), args, environment());
  }
  // A line typed on that terminal.
  void type(const std::string& line) {
    if (terminal_) terminal_->type(line);
  }
  void stop() {
    if (process_) process_->stop();
    if (terminal_) terminal_->stop();
  }

  // The IDs printed on standard output by the current run, in order.
  std::vector<std::string> ids() const {
    std::vector<std::string> out;
    std::istringstream lines(output());
    std::string line;
    while (std::getline(lines, line)) {
      if (isPlimoID(line)) out.push_back(line);
    }
    return out;
  }
  std::string lastID() const {
    auto all = ids();
    return all.empty() ? std::string() : all.back();
  }
  bool waitForID(double seconds, const std::string& wanted = "") const {
    return waitFor([&] { return wanted.empty() ? !ids().empty() : lastID() == wanted; }, seconds);
  }

  pid_t pid() const { return process_ ? process_->pid() : terminal_ ? terminal_->pid() : -1; }
  std::string log() const { return readFile(home_ / "Plimo.log"); }
  std::string ini() const { return readFile(home_ / "Plimo.ini"); }
  const std::filesystem::path& home() const { return home_.path(); }
  std::string output() const {
    return terminal_ ? terminal_->output() : process_ ? process_->output() : std::string();
  }
  bool waitForOutput(const std::string& part, double seconds) const {
    return waitFor([&] { return output().find(part) != std::string::npos; }, seconds);
  }
  bool waitForLog(const std::string& part, double seconds) const {
    return waitFor([&] { return log().find(part) != std::string::npos; }, seconds);
  }

  // More environment for the runs, such as the X display.
  std::map<std::string, std::string> env;

 private:
  std::map<std::string, std::string> environment() const {
    auto all = env;
    all["PLIMO_HOME"] = home_.path();
    return all;
  }

  TempDir home_;
  int runs_ = 0;
  std::unique_ptr<Process> process_;
  std::unique_ptr<TerminalProcess> terminal_;
};

// The check number a log shows for its partner link, or "".
inline std::string checkNumber(const std::string& log) {
  std::smatch m;
  static const std::regex pattern("link to .*Check number ([0-9]{3} [0-9]{3})");
  return std::regex_search(log, m, pattern) ? m[1].str() : std::string();
}

// The [Relay] section pointing at a loopback server.
inline std::string relayIni(uint16_t udp, const std::string& tcpPorts, const std::string& key = "") {
  return "[Relay]\nHost=127.0.0.1\nPort=" + std::to_string(udp) + "\nTcpPort=" + tcpPorts + "\nKey=" + key + "\n";
}

}  // namespace plimo::e2e

// Skips a test that needs both programs when this tree did not build them.
#define REQUIRE_PROGRAMS()                                                                 \
  if (builtProgram("server/plimo-server").empty() || HeadlessClient::program().empty()) \
  GTEST_SKIP() << "plimo-server or plimo is not built in this tree"

