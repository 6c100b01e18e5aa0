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
    udpPort = udp ? udp : freePort(SOCK_DGRAM);
    tcpPorts = tcp.empty() ? std::vector<uint16_t>{freePort(SOCK_STREAM)} : tcp;
    std::string list;
    for (uint16_t p : tcpPorts) list += (list.empty() ? "" : ",") + std::to_string(p);
    std::vector<std::string> args = {"--udp-port", std::to_string(udpPort), "--tcp-ports", list, "--data", dataDir};
    args.insert(args.end(), extra.begin(), extra.end());
    process = std::make_unique<Process>(program, args, outputFile);
    if (!process->waitForOutput("Listening on UDP", 20)) {
      ADD_FAILURE() << "plimo-server did not start:\n" << process->output();
      process.reset();
      return;
    }
    std::string out = process->output();
    const std::string marker = "[Relay] Key for Plimo.ini: ";
    size_t at = out.find(marker);
    if (at != std::string::npos) keyHex = out.substr(at + marker.size(), 128);
  }

  bool up() const { return process != nullptr; }
  std::string log() const { return process ? process->output() : std::string(); }

  std::string program;
  uint16_t udpPort = 0;
  std::vector<uint16_t> tcpPorts;
  std::string keyHex;
  std::unique_ptr<Process> process;
};

}  // namespace plimo::e2e
