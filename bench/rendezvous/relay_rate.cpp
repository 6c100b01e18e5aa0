// relay_rate: plimo-server as a process passing 1183-byte partner packets
// (0x14, the size of a full screen-update chunk) from one registered client to
// its paired partner over loopback UDP. Prints one JSON object per figure:
//   relay_packets_per_second      packets the partner received a second
//                                 (wall clock; the sender, receiver and
//                                 server share the machine)
//   relay_packets_per_cpu_second  the same per second of the server's own
//                                 CPU time: its rate on one fully used core
// Usage: relay_rate [--server PATH] [--packets N]

#include <sys/resource.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "e2e/NetClient.h"
#include "e2e/Process.h"

using namespace plimo;
using namespace plimo::e2e;

namespace {

using Clock = std::chrono::steady_clock;

// Packets in flight at most: 64 x 1183 bytes stay well inside the default
// socket buffers, so every packet sent is one the server passes on.
constexpr int kWindow = 64;
constexpr size_t kPacketSize = 1183;

// CPU seconds of the children reaped so far (the servers this program ran).
double childCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Run {
  int delivered = 0;
  double seconds = 0;
  double serverCpu = 0;
  bool ok = false;
};

// Starts a server, pairs two clients and relays `packets` packets from one to
// the other (none for the baseline), then stops the server.
Run relayThroughServer(const std::string& program, int packets) {
  Run run;
  TempDir dir("relay-rate");
  uint16_t udp = freePort(SOCK_DGRAM);
  double cpuBefore = childCpuSeconds();
  {
    Process server(program, {"--udp-port", std::to_string(udp), "--tcp-ports", "none", "--data", dir / "data"},
                   dir / "server.txt");
    if (!server.waitForOutput("Listening on UDP", 20)) {
      std::fprintf(stderr, "plimo-server did not start:\n%s\n", server.output().c_str());
      return run;
    }
    NetClient viewer(udp, false);
    NetClient host(udp, false);
    std::string hostID = host.registerAs();
    std::string viewerID = viewer.registerAs();
    if (hostID.empty() || viewerID.empty()) {
      std::fprintf(stderr, "the clients did not register:\n%s\n", server.output().c_str());
      return run;
    }
    viewer.say("CONNECT " + hostID + " 127.0.0.1 1 " + std::string(128, 'A'), "PEER");
    // The host's PEER line waits in its queue; drain it so that only relayed
    // packets count.
    while (host.receive(0.2)) {
    }

    Bytes packet(kPacketSize, 0x5A);
    packet[0] = 0x14;
    packet[1] = 0xC0;
    int sent = 0;
    auto start = Clock::now();
    while (run.delivered < packets) {
      while (sent < packets && sent - run.delivered < kWindow) {
        viewer.send(packet);
        ++sent;
      }
      auto p = host.receive(0.5);
      if (!p) {
        // Lost on the way (loopback under load): let the window move on.
        if (sent >= packets) break;
        sent = run.delivered;
        continue;
      }
      if (p->size() == kPacketSize && (*p)[0] == 0x14) ++run.delivered;
    }
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.ok = server.stop() == 0;
  }
  run.serverCpu = childCpuSeconds() - cpuBefore;
  return run;
}

void figure(const char* name, double value, const char* unit, const std::string& extra = "") {
  std::printf("{\"figure\": \"%s\", \"value\": %.0f, \"unit\": \"%s\"%s}\n", name, value, unit, extra.c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::string server = std::string(PLIMO_BINARY_DIR) + "/server/plimo-server";
  int packets = 300000;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string name = argv[i];
    if (name == "--server") server = argv[i + 1];
    if (name == "--packets") packets = std::stoi(argv[i + 1]);
  }
  // The server's start, registration and stop without relaying, to take off
  // the relayed run's CPU time.
  Run baseline = relayThroughServer(server, 0);
  Run loaded = relayThroughServer(server, packets);
  if (!baseline.ok || !loaded.ok || loaded.delivered == 0) return 1;
  double relayCpu = loaded.serverCpu - baseline.serverCpu;
  std::string counts = ", \"packets\": " + std::to_string(loaded.delivered) + ", \"bytes\": " +
                       std::to_string(kPacketSize);
  figure("relay_packets_per_second", loaded.delivered / loaded.seconds, "1/s", counts);
  figure("relay_packets_per_cpu_second", relayCpu > 0 ? loaded.delivered / relayCpu : 0, "1/s",
         counts + ", \"server_cpu_seconds\": " + std::to_string(relayCpu));
  return 0;
}
