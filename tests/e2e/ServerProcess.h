#pragma once
// plimo-server as a real process on loopback ports of its own.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "e2e/NetClient.h"
#include "e2e/Process.h"

namespace plimo::e2e {

struct ServerProcess {
  // `tcpPorts` empty: one free port. Fails the test (and leaves `process`
  // empty) when the server does not come up.
  ServerProcess(const std::string& dataDir, const std::string& outputFile, uint16_t udp = 0,
                std::vector<uint16_t> tcp = {}, std::vector<std::string> extra = {}) {
    program = builtProgram("server/plimo-server");
    if (program.empty()) return;
    data = dataDir;
    // Ports picked here may still be taken by a test running beside this one.
    for (int attempt = 0;; ++attempt) {
      udpPort = udp ? udp : freePort(SOCK_DGRAM);
      tcpPorts = tcp.empty() ? std::vector<uint16_t>{freePort(SOCK_STREAM)} : tcp;
      std::string list;
      for (uint16_t p : tcpPorts) list += (list.empty() ? "" : ",") + std::to_string(p);
      std::vector<std::string> args = {"--udp-port", std::to_string(udpPort), "--tcp-ports", list, "--data", dataDir};
      args.insert(args.end(), extra.begin(), extra.end());
      process = std::make_unique<Process>(program, args, outputFile);
      auto listening = [&] { return process->output().find("Listening on UDP") != std::string::npos; };
      waitFor([&] { return listening() || !process->running(); }, 20);
      std::string out = process->output();
      bool taken = out.find("Address already in use") != std::string::npos;
      if (listening() && !taken) break;
      if (!taken || (udp && !tcp.empty()) || attempt == 4) {
        ADD_FAILURE() << "plimo-server did not start:\n" << out;
        process.reset();
        return;
      }
      process.reset();
    }
    std::string out = process->output();
    const std::string marker = "[Relay] Key for Plimo.ini: ";
    size_t at = out.find(marker);
    if (at != std::string::npos) keyHex = out.substr(at + marker.size(), 128);
  }

  bool up() const { return process != nullptr; }
  std::string log() const { return process ? process->output() : std::string(); }

  // plimo-server run once more on the same data folder with `args` (such as
  // --trust-helper ID); its exit code, and what it printed in `output`.
  int command(const std::vector<std::string>& args, std::string& output) const {
    return command(program, data, args, output);
  }
  static int command(const std::string& program, const std::string& dataDir, const std::vector<std::string>& args,
                     std::string& output) {
    std::vector<std::string> all = {"--data", dataDir};
    all.insert(all.end(), args.begin(), args.end());
    TempDir dir("server-command");
    Process run(program, all, dir / "out.txt");
    waitFor([&] { return !run.running(); }, 20);
    int status = run.stop();
    output = readFile(dir / "out.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string program;
  std::string data;
  uint16_t udpPort = 0;
  std::vector<uint16_t> tcpPorts;
  std::string keyHex;
  std::unique_ptr<Process> process;
};

}  // namespace plimo::e2e
