// relay_rate: plimo-server as a process passing 1183-byte partner packets
// (0x14, the size of a full screen-update chunk) between pairs of registered
// clients over loopback UDP, as many helpers' screens at once. Each helped
// PC sends its packets in bursts, one datagram each, as clients do. Prints
// one JSON object per figure:
//   relay_packets_per_second      packets the partners received a second
//                                 (wall clock; the senders, receivers and
//                                 server share the machine)
//   relay_packets_per_cpu_second  the same per second of the server's own
//                                 CPU time while it relayed: its rate on one
//                                 fully used core
// and with --flood, the same two while forged handshakes flood the server
// (..._under_flood). --joined-in and --joined-out stand in for a network
// card's receive and segmentation offloads (see Offload). --fleet puts the
// helpers on one server of a fleet and their PCs on another (two processes
// on 127.0.0.2 and 127.0.0.3 on the database PLIMO_TEST_POSTGRES names), so
// that both servers relay each packet (..._across_two_servers, the CPU time
// both servers').
// Usage: relay_rate [--server PATH] [--packets N] [--pairs N] [--flood]
//                   [--joined-in] [--joined-out] [--fleet] (--flood not with --fleet)

#include <netinet/udp.h>
#include <poll.h>
#include <sys/socket.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "e2e/BenchServer.h"
#include "e2e/Flood.h"
#include "e2e/NetClient.h"
#include "e2e/Process.h"
#include "protocol/crypto/SigningKey.h"
#include "server/StoreEngines.h"
#include "server/UdpBatches.h"

using namespace plimo;
using namespace plimo::e2e;

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kPacketSize = 1183;
// Packets in flight per pair at most: all pairs' windows stay inside the
// server's receive buffer, so a packet is lost only when the machine is
// too busy to run the server for a while.
constexpr long kWindow = 256;
constexpr size_t kBurst = 64;
// Segments in one coalesced burst: within a datagram's 64 KB.
constexpr long kJoined = 50;

struct Pair {
  std::unique_ptr<NetClient> viewer;  // sends
  std::unique_ptr<NetClient> host;    // receives
  long sent = 0;
  long delivered = 0;
};

struct Run {
  long delivered = 0;
  long lost = 0;
  double seconds = 0;
  double serverCpu = 0;
};

// Registers `count` pairs and introduces the two of each.
// What the network cards of a real server would join, which loopback
// leaves to the kernel's CPU time (counted as the server's):
struct Offload {
  // A burst from one sender reaches the server as one coalesced message
  // (receive offload); else as separate datagrams, as a sender of single
  // datagrams makes them.
  bool joinedIn = false;
  // The partners take the server's segmented sends whole (segmentation
  // offload); else the kernel cuts them in the server's time.
  bool joinedOut = false;
};

// The viewers' server at `viewerIP`, the hosts' at `hostIP` (host order).
std::vector<Pair> makePairs(uint16_t udp, int count, Offload offload, uint32_t viewerIP, uint32_t hostIP) {
  std::vector<Pair> pairs;
  for (int i = 0; i < count; ++i) {
    Pair p{std::make_unique<NetClient>(udp, false, viewerIP), std::make_unique<NetClient>(udp, false, hostIP)};
    std::string hostID = p.host->registerAs();
    std::string viewerID = p.viewer->registerAs();
    if (hostID.empty() || viewerID.empty()) return {};
    auto peer = p.viewer->connectTo(hostID);
    // Another server of a fleet writes the PC's presence on its own thread,
    // a moment after its ID line.
    for (int again = 0; again < 5 && (peer.empty() || peer.back().rfind("PEER ", 0) != 0); ++again) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      peer = p.viewer->connectTo(hostID);
    }
    if (peer.empty() || peer.back().rfind("PEER ", 0) != 0) return {};
    // The host's PEER line waits in its queue; drain it so that only relayed
    // packets count.
    while (p.host->receive(0.2)) {
    }
    int size = 4 * 1024 * 1024;
    ::setsockopt(p.host->socket(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    ::setsockopt(p.viewer->socket(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    if (offload.joinedOut) {
      int on = 1;
      ::setsockopt(p.host->socket(), SOL_UDP, UDP_GRO, &on, sizeof on);
    }
    pairs.push_back(std::move(p));
  }
  return pairs;
}

// Relays `packets` packets in all, each pair within its window.
Run relay(std::vector<Pair>& pairs, uint16_t udp, uint32_t viewerIP, long packets, const std::vector<pid_t>& servers,
          Offload offload) {
  Bytes packet(kPacketSize, 0x5A);
  packet[0] = 0x14;
  packet[1] = 0xC0;
  sockaddr_in to = loopback(udp);
  to.sin_addr.s_addr = htonl(viewerIP);
  auto cpu = [&servers] {
    double sum = 0;
    for (pid_t server : servers) sum += cpuSeconds(server);
    return sum;
  };
  std::array<iovec, kBurst> burst{};
  burst.fill({packet.data(), packet.size()});
  std::array<mmsghdr, kBurst> out{};
  for (auto& m : out) {
    m.msg_hdr.msg_name = &to;
    m.msg_hdr.msg_namelen = sizeof to;
    m.msg_hdr.msg_iov = burst.data();
    m.msg_hdr.msg_iovlen = 1;
  }
  // A coalesced burst: one message of up to kBurst segments.
  UdpBatches::SegmentControl control{};
  msghdr joined{};
  joined.msg_name = &to;
  joined.msg_namelen = sizeof to;
  joined.msg_iov = burst.data();
  UdpBatches::setSegmentSize(joined, control, uint16_t(kPacketSize));

  constexpr size_t kIn = 65536;
  std::vector<uint8_t> inBytes(kBurst * kIn);
  std::array<iovec, kBurst> inVec{};
  std::array<mmsghdr, kBurst> in{};
  for (size_t i = 0; i < kBurst; ++i) {
    inVec[i] = {inBytes.data() + i * kIn, kIn};
    in[i].msg_hdr.msg_iov = &inVec[i];
    in[i].msg_hdr.msg_iovlen = 1;
  }
  std::vector<pollfd> polls;
  for (auto& p : pairs) polls.push_back({p.host->socket(), POLLIN, 0});

  Run run;
  long sent = 0;
  double cpuBefore = cpu();
  auto start = Clock::now();
  while (run.delivered < packets) {
    for (auto& p : pairs) {
      long room = std::min(kWindow - (p.sent - p.delivered), packets - sent);
      while (room > 0) {
        int n;
        if (offload.joinedIn) {
          joined.msg_iovlen = size_t(std::min<long>(room, kJoined));
          n = ::sendmsg(p.viewer->socket(), &joined, 0) > 0 ? int(joined.msg_iovlen) : -1;
        } else {
          n = ::sendmmsg(p.viewer->socket(), out.data(), unsigned(std::min<long>(room, kBurst)), 0);
        }
        if (n <= 0) break;
        p.sent += n;
        sent += n;
        room -= n;
      }
    }
    if (::poll(polls.data(), polls.size(), 300) <= 0) {
      // Lost on the way (the machine was too busy to run the server): the
      // windows move on.
      for (auto& p : pairs) {
        run.lost += p.sent - p.delivered;
        p.sent = p.delivered;
      }
      if (sent >= packets) break;
      sent = run.delivered;
      continue;
    }
    for (size_t i = 0; i < pairs.size(); ++i) {
      if (!(polls[i].revents & POLLIN)) continue;
      int n;
      while ((n = ::recvmmsg(polls[i].fd, in.data(), kBurst, MSG_DONTWAIT, nullptr)) > 0) {
        for (int k = 0; k < n; ++k) {
          // A coalesced message holds whole packets only.
          size_t length = in[size_t(k)].msg_len;
          if (length % kPacketSize || inBytes[size_t(k) * kIn] != 0x14) continue;
          pairs[i].delivered += long(length / kPacketSize);
          run.delivered += long(length / kPacketSize);
        }
        if (n < int(kBurst)) break;
      }
    }
  }
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.serverCpu = cpu() - cpuBefore;
  return run;
}

void figure(const std::string& name, double value, const char* unit, const std::string& extra = "") {
  std::printf("{\"figure\": \"%s\", \"value\": %.0f, \"unit\": \"%s\"%s}\n", name.c_str(), value, unit, extra.c_str());
  std::fflush(stdout);
}

void report(const Run& run, const std::string& suffix, size_t pairs) {
  std::string counts = ", \"packets\": " + std::to_string(run.delivered) + ", \"lost\": " + std::to_string(run.lost) +
                       ", \"bytes\": " + std::to_string(kPacketSize) + ", \"pairs\": " + std::to_string(pairs);
  figure("relay_packets_per_second" + suffix, double(run.delivered) / run.seconds, "1/s", counts);
  figure("relay_packets_per_cpu_second" + suffix, run.serverCpu > 0 ? double(run.delivered) / run.serverCpu : 0,
         "1/s", counts + ", \"server_cpu_seconds\": " + std::to_string(run.serverCpu));
}

}  // namespace

int main(int argc, char** argv) {
  std::string program = std::string(PLIMO_BINARY_DIR) + "/server/plimo-server";
  long packets = 2000000;
  int pairCount = 8;
  bool flood = false, fleet = false;
  Offload offload;
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (name == "--flood") flood = true;
    if (name == "--fleet") fleet = true;
    if (name == "--joined-in") offload.joinedIn = true;
    if (name == "--joined-out") offload.joinedOut = true;
    if (i + 1 >= argc) continue;
    if (name == "--server") program = argv[i + 1];
    if (name == "--packets") packets = std::stol(argv[i + 1]);
    if (name == "--pairs") pairCount = std::stoi(argv[i + 1]);
  }
  TempDir dir("relay-rate");
  uint16_t udp = freePort(SOCK_DGRAM);
  testkit::PgTestSchema pg;
  std::vector<std::unique_ptr<Process>> servers;
  uint32_t viewerIP = INADDR_LOOPBACK, hostIP = INADDR_LOOPBACK;
  std::string suffix;
  if (fleet) {
    if (pg.where().empty()) return std::fprintf(stderr, "relay_rate --fleet: %s\n", pg.missing().c_str()), 1;
    const std::string key = (dir / "fleet-key.pem").string();
    SigningKey::generate().savePemFile(key);
    for (const char* ip : {"127.0.0.2", "127.0.0.3"}) {
      std::filesystem::create_directories(dir / ip);
      servers.push_back(startBenchServer(program, dir / ip, udp,
                                         {"--store", pg.where(), "--key", key, "--bind", ip, "--fleet-port", "0"}));
    }
    viewerIP = 0x7F000002;
    hostIP = 0x7F000003;
    suffix = "_across_two_servers";
  } else {
    servers.push_back(startBenchServer(program, dir.path(), udp));
  }
  std::vector<pid_t> pids;
  for (auto& s : servers) {
    if (!s) return 1;
    pids.push_back(s->pid());
  }
  Process& server = *servers[0];
  std::vector<Pair> pairs = makePairs(udp, pairCount, offload, viewerIP, hostIP);
  if (pairs.empty()) {
    std::fprintf(stderr, "the clients did not register and pair:\n%s\n", server.output().c_str());
    return 1;
  }
  Run quiet = relay(pairs, udp, viewerIP, packets, pids, offload);
  report(quiet, suffix, pairs.size());
  bool ok = quiet.delivered > 0;
  if (flood && !fleet) {
    // About 15,000 packets a second, half of them handshakes: more than the
    // server's handshake budget.
    Flood forged(udp, 150);
    Run flooded = relay(pairs, udp, viewerIP, packets, pids, offload);
    report(flooded, suffix + "_under_flood", pairs.size());
    ok = ok && flooded.delivered > 0;
  }
  for (auto& s : servers) ok = s->stop() == 0 && ok;
  return ok ? 0 : 1;
}
