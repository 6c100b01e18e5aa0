// The server's own cost per packet, on one core and virtual time: handshakes
// (key agreement, derivation, signature), sealed command round trips, and
// passing relayed partner packets on, by one server or by two servers of a
// fleet (sealed from one to the other). items_per_second is per CPU second.

#include <benchmark/benchmark.h>

#include "server/FleetMail.h"
#include "server/FleetRelay.h"
#include "server/ServerRig.h"
#include "testkit/TempDir.h"

using namespace plimo;
using namespace plimo::testkit;

namespace {

struct NullSink final : PacketSink {
  size_t packets = 0;
  void send(const Endpoint&, ByteView, bool) override { ++packets; }
  void close(const Endpoint&) override {}
};

// A partner session's packet of the usual size, as the relay passes it on.
Bytes relayedPacket() {
  Bytes packet(1183, 0x5A);
  packet[0] = 0x14;
  packet[1] = 0xC0;
  return packet;
}

struct Bench {
  ManualLoop loop;
  std::unique_ptr<ServerStore> store = memoryStore();
  NullSink sink;
  RelayConfig config = [] {
    RelayConfig c = testConfig();
    c.handshakeRate = 1e9;
    c.maxSessions = 1000000;
    c.maxSessionsPerAddress = 1000000;
    return c;
  }();
  RelayServer server{loop, *store, SigningKey::generate(), sink, config, [](const std::string&) {}};
};

void BM_Handshake(benchmark::State& state) {
  Bench b;
  ClientCodec codec;
  // Handshakes made beforehand: only the server's work is timed.
  std::vector<Bytes> packets;
  for (int i = 0; i < 2000; ++i) packets.push_back(codec.handshake());
  size_t i = 0;
  uint16_t port = 1;
  for (auto _ : state) {
    b.server.receive(Endpoint::udp(0x0A000000 + (i >> 16), port++), packets[i % packets.size()]);
    ++i;
  }
  state.SetItemsProcessed(int64_t(i));
}
BENCHMARK(BM_Handshake)->Unit(benchmark::kMicrosecond);

void BM_HelloRoundTrip(benchmark::State& state) {
  ServerRig rig;
  RigClient c(rig, RigClient::udp(40000));
  std::string id = c.registerAs();
  std::string hello = "HELLO " + id + " 192.168.1.20 40000 " + std::string(128, 'A') + " 127.0.0.1 0";
  for (auto _ : state) {
    rig.server.receive(c.endpoint, c.codec.seal(hello));
    rig.sink.sent.clear();
    c.seen = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HelloRoundTrip)->Unit(benchmark::kMicrosecond);

// Relayed partner packets of the size the session's screen traffic uses.
void BM_Relay1183(benchmark::State& state) {
  ServerRig rig;
  RigClient a(rig, RigClient::udp(40001));
  RigClient h(rig, RigClient::udp(40002));
  std::string idA = a.registerAs();
  std::string idH = h.registerAs();
  a.say("CONNECT " + idH + " 192.168.1.20 40000 " + std::string(128, 'A'));
  const Bytes packet = relayedPacket();
  for (auto _ : state) {
    rig.server.receive(a.endpoint, packet);
    if (rig.sink.sent.size() > 4096) rig.sink.sent.clear();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(int64_t(state.iterations()) * 1183);
}
BENCHMARK(BM_Relay1183);

// The same packets from a helper on one server to a PC on another: both
// servers' work, the first one's datagram handed straight to the second.
void BM_Relay1183AcrossTwoServers(benchmark::State& state) {
  struct Mail final : FleetMail {
    std::vector<std::pair<std::string, std::string>> lines;
    void send(const std::string& to, const std::string& line) override { lines.emplace_back(to, line); }
  } mail;
  struct Wire final : PacketSink {
    RelayServer* to = nullptr;
    Endpoint from = Endpoint::udp(0x7F000002, 47801);
    void send(const Endpoint&, ByteView packet, bool) override { to->fleetPacket(from, packet); }
    void close(const Endpoint&) override {}
  } wire;
  NullSink back;
  auto named = [](const char* name) {
    RelayConfig c = testConfig();
    c.serverName = name;
    return c;
  };
  TempDir dir("bench-fleet-relay");
  SigningKey key = SigningKey::generate();
  ServerRig a(named("a"), key, openStore((dir / "db").string()));
  ServerRig b(named("b"), key, openStore((dir / "db").string()));
  wire.to = &b.server;
  for (ServerRig* rig : {&a, &b}) rig->server.joinFleet(mail);
  a.server.relayThroughFleet(wire, "127.0.0.2:47801");
  b.server.relayThroughFleet(back, "127.0.0.3:47801");
  RigClient helper(a, RigClient::udp(40001)), pc(b, RigClient::udp(40002));
  std::string pcID = pc.registerAs();
  helper.registerAs();
  helper.say("CONNECT " + pcID + " 192.168.1.20 40000 " + std::string(128, 'A'));
  for (size_t i = 0; i < mail.lines.size(); ++i) {
    auto [to, line] = mail.lines[i];
    (to == "a" ? a : b).server.fleetLine(line);
  }
  const Bytes packet = relayedPacket();
  for (auto _ : state) {
    a.server.receive(helper.endpoint, packet);
    if (b.sink.sent.size() > 4096) b.sink.sent.clear();
  }
  if (b.server.fleetRelay().stats().received != uint64_t(state.iterations())) state.SkipWithError("packets lost");
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(int64_t(state.iterations()) * 1183);
}
BENCHMARK(BM_Relay1183AcrossTwoServers);

}  // namespace

BENCHMARK_MAIN();
