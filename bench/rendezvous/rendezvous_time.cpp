// rendezvous_time: how long two real PlimoClients (real sockets, one AsioLoop)
// take from the helper's CONNECT until both sides are connected, against
// plimo-server as a process on loopback. Prints one JSON object per figure,
// the median of several rounds with their minimum and maximum:
//   rendezvous_direct_ms       punching opens the direct path
//   rendezvous_relayed_udp_ms  direct datagrams between the clients are
//                              dropped: the relayed punches from try 15 lock
//   rendezvous_relayed_tcp_ms  the helper's UDP to the server is dropped, so
//                              it is on the TCP fallback: relayed at once
// Usage: rendezvous_time [--server PATH] [--rounds N]

#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/AsioLoop.h"
#include "e2e/NetClient.h"
#include "e2e/Process.h"
#include "protocol/link/PlimoClient.h"
#include "protocol/net/NetSocketFactory.h"
#include "testkit/LinkRecorder.h"

using namespace plimo;
using namespace plimo::e2e;

namespace {

using Clock = std::chrono::steady_clock;

// Real sockets whose datagrams to some addresses are dropped on sending, as
// a firewall between this client and those addresses would.
class FilteredSockets final : public SocketFactory {
 public:
  using Pass = std::function<bool(const Address& to)>;
  FilteredSockets(SocketFactory& real, Pass pass) : real_(real), pass_(std::move(pass)) {}

  std::unique_ptr<DatagramLink> openUdp(DatagramLink::PacketHandler onPacket) override {
    return std::make_unique<Link>(real_.openUdp(std::move(onPacket)), pass_);
  }
  std::unique_ptr<StreamLink> openTcp(const std::string& ip, uint16_t port,
                                      StreamLink::PacketHandler onPacket) override {
    return real_.openTcp(ip, port, std::move(onPacket));
  }
  void resolveIPv4(const std::string& host, ResolveHandler done) override { real_.resolveIPv4(host, std::move(done)); }
  std::string localIPv4() override { return real_.localIPv4(); }

 private:
  class Link final : public DatagramLink {
   public:
    Link(std::unique_ptr<DatagramLink> inner, Pass pass) : inner_(std::move(inner)), pass_(std::move(pass)) {}
    void send(ByteView data, const Address& to) override {
      if (pass_(to)) inner_->send(data, to);
    }
    uint16_t localPort() const override { return inner_->localPort(); }
    std::string lastSendError() const override { return inner_->lastSendError(); }
    bool localNetworkBlocked() const override { return inner_->localNetworkBlocked(); }

   private:
    std::unique_ptr<DatagramLink> inner_;
    Pass pass_;
  };

  SocketFactory& real_;
  Pass pass_;
};

// Runs the loop until `done` holds; false after `seconds` without.
bool runUntil(AsioLoop& loop, const std::function<bool()>& done, double seconds) {
  auto end = Clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (Clock::now() > end) return false;
    loop.context().run_one_for(std::chrono::milliseconds(5));
  }
  return true;
}

struct Scenario {
  const char* figure;
  FilteredSockets::Pass viewerPass;
  FilteredSockets::Pass hostPass;
  int rounds;
};

// Milliseconds from CONNECT to both sides connected, one entry per round;
// empty when the clients never registered or a round failed.
std::vector<double> measure(AsioLoop& loop, SocketFactory& real, uint16_t udp, uint16_t tcp,
                            const Scenario& scenario) {
  FilteredSockets viewerSockets(real, scenario.viewerPass);
  FilteredSockets hostSockets(real, scenario.hostPass);
  std::string tcpText = std::to_string(tcp);
  testkit::LinkRecorder viewerEvents, hostEvents;
  auto viewer = PlimoClient::create(loop, viewerSockets, viewerEvents.weak(), "127.0.0.1", udp, tcpText, "");
  auto host = PlimoClient::create(loop, hostSockets, hostEvents.weak(), "127.0.0.1", udp, tcpText, "");
  host->setUnattended(true);
  bool viewerUp = false, hostUp = false;
  std::string failure;
  viewerEvents.afterConnected = [&] { viewerUp = true; };
  hostEvents.afterConnected = [&] { hostUp = true; };
  viewerEvents.afterFailed = [&] { failure = viewerEvents.failures.back(); };
  std::vector<double> times;
  viewer->start();
  host->start();
  // The TCP fallback starts after three unanswered UDP handshakes 2 s apart.
  if (!runUntil(loop, [&] { return viewer->myID() != "0" && host->myID() != "0"; }, 30)) {
    std::fprintf(stderr, "%s: the clients did not register\n", scenario.figure);
    return times;
  }
  for (int round = 0; round < scenario.rounds; ++round) {
    viewerUp = hostUp = false;
    auto start = Clock::now();
    viewer->connect(host->myID());
    if (!runUntil(loop, [&] { return (viewerUp && hostUp) || !failure.empty(); }, 20) || !failure.empty()) {
      std::fprintf(stderr, "%s: round %d did not connect: %s\n", scenario.figure, round, failure.c_str());
      return {};
    }
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    viewer->disconnect();
    // Both sides back to registered, and their HELLOs with the next session's
    // keys have reached the server before the next CONNECT.
    runUntil(loop, [&] { return host->state() == PlimoClient::State::registered; }, 10);
    auto settled = Clock::now() + std::chrono::milliseconds(300);
    runUntil(loop, [&] { return Clock::now() > settled; }, 1);
  }
  viewer->stop();
  host->stop();
  runUntil(loop, [] { return false; }, 0.3);
  return times;
}

void report(const char* name, std::vector<double> times) {
  std::sort(times.begin(), times.end());
  std::printf("{\"figure\": \"%s\", \"value\": %.1f, \"unit\": \"ms\", \"rounds\": %zu, \"min\": %.1f, \"max\": %.1f}\n",
              name, times[times.size() / 2], times.size(), times.front(), times.back());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::string program = std::string(PLIMO_BINARY_DIR) + "/server/plimo-server";
  int rounds = 10;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string name = argv[i];
    if (name == "--server") program = argv[i + 1];
    if (name == "--rounds") rounds = std::stoi(argv[i + 1]);
  }
  TempDir dir("rendezvous");
  uint16_t udp = freePort(SOCK_DGRAM);
  uint16_t tcp = freePort(SOCK_STREAM);
  Process server(program,
                 {"--udp-port", std::to_string(udp), "--tcp-ports", std::to_string(tcp), "--data", dir / "data"},
                 dir / "server.txt");
  if (!server.waitForOutput("Listening on UDP", 20)) {
    std::fprintf(stderr, "plimo-server did not start:\n%s\n", server.output().c_str());
    return 1;
  }
  const Address relay{"127.0.0.1", udp};
  auto anywhere = [](const Address&) { return true; };
  auto onlyServer = [relay](const Address& to) { return to == relay; };
  auto notServer = [relay](const Address& to) { return !(to == relay); };
  // The relayed rounds wait for try 15 (about 3 s) each; fewer of them.
  const Scenario scenarios[] = {
      {"rendezvous_direct_ms", anywhere, anywhere, rounds},
      {"rendezvous_relayed_udp_ms", onlyServer, onlyServer, std::max(1, rounds / 2)},
      {"rendezvous_relayed_tcp_ms", notServer, anywhere, rounds},
  };
  AsioLoop loop;
  NetSocketFactory sockets(loop);
  int failed = 0;
  for (const auto& scenario : scenarios) {
    auto times = measure(loop, sockets, udp, tcp, scenario);
    if (times.empty()) {
      ++failed;
      continue;
    }
    report(scenario.figure, times);
  }
  return failed ? 1 : 0;
}
