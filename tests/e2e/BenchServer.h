#pragma once
// plimo-server as a process for a bench: on the given UDP port, without TCP,
// its data and output in a folder of the bench's, with `extra` arguments.

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "e2e/Process.h"

namespace plimo::e2e {

// Nothing, with what the server printed on standard error, when it does not
// come up.
inline std::unique_ptr<Process> startBenchServer(const std::string& program, const std::filesystem::path& dir,
                                                 uint16_t udp, const std::vector<std::string>& extra = {}) {
  std::vector<std::string> args = {"--udp-port", std::to_string(udp), "--tcp-ports", "none", "--data", dir / "data"};
  args.insert(args.end(), extra.begin(), extra.end());
  auto server = std::make_unique<Process>(program, args, dir / "server.txt");
  if (server->waitForOutput("Listening on UDP", 20)) return server;
  std::fprintf(stderr, "plimo-server did not start:\n%s\n", server->output().c_str());
  return nullptr;
}

}  // namespace plimo::e2e
