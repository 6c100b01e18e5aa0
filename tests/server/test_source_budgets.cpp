// One source address, however busy, must not take what the server has for
// everyone: its session table, its ID leases, its database or its log.

#include <gtest/gtest.h>

#include "server/ServerRig.h"

using namespace plimo;
using namespace plimo::testkit;

namespace {

constexpr uint32_t kFloodIP = 0x0A000009;

}  // namespace

TEST(SourceBudgets, OneAddressCannotFillTheSessionTable) {
  RelayConfig config = testConfig();
  config.maxSessions = 50;
  ServerRig rig(config);
  std::vector<std::unique_ptr<RigClient>> real;
  for (uint32_t i = 0; i < 10; ++i) {
    real.push_back(std::make_unique<RigClient>(rig, RigClient::udp(40000, 0x7F000001 + i)));
    ASSERT_FALSE(real.back()->registerAs().empty());
  }
  int registered = 0;
  for (int i = 0; i < 200; ++i) {
    RigClient c(rig, RigClient::udp(uint16_t(20000 + i), kFloodIP));
    registered += !c.registerAs().empty();
  }
  EXPECT_LT(registered, 25);
  for (auto& c : real) EXPECT_NE(rig.server.sessions().find(c->endpoint), nullptr);
  EXPECT_EQ(rig.server.stats().evicted, 0u);
}

TEST(SourceBudgets, IdChurnFromOneAddressKeepsOtherPCsLeases) {
  IdRegistry ids(1e9, 100, 10);
  ids.bringOnline("555555555", 1);
  ids.takeOffline("555555555", 0, 0x7F000001);
  for (int i = 0; i < 1000; ++i) {
    std::string id = std::to_string(100000000 + i);
    ids.bringOnline(id, 2);
    ids.takeOffline(id, i, kFloodIP);
  }
  EXPECT_TRUE(ids.leased("555555555", 2000));
  EXPECT_EQ(ids.leaseHolder("555555555"), 0x7F000001u);
  int flooded = 0;
  for (int i = 0; i < 1000; ++i) flooded += ids.leased(std::to_string(100000000 + i), 2000);
  EXPECT_LE(flooded, 10);
}

TEST(SourceBudgets, PinAndUnpinFloodDoesNotWriteTheDatabaseEveryTime) {
  ServerRig rig;
  RigClient c(rig, RigClient::udp(40001, kFloodIP));
  std::string id = c.registerAs();
  int written = 0;
  for (int i = 0; i < 100; ++i) {
    auto lines = c.say("PIN " + id + " " + std::string(64, 'C'));
    written += !lines.empty() && lines[0] == "PIN OK " + id;
    c.say("UNPIN");
  }
  EXPECT_LE(written, 10);
}

TEST(SourceBudgets, LogFloodAboutOneAddressCannotRollTheLogAway) {
  ServerRig rig;
  for (int i = 0; i < 300; ++i) {
    RigClient c(rig, RigClient::udp(uint16_t(20000 + i), kFloodIP));
    c.registerAs();
    c.say("BYE");
  }
  size_t aboutFlood = 0;
  for (auto& line : rig.logs) aboutFlood += line.find("10.0.0.9") != std::string::npos || line.find("offline") != std::string::npos;
  EXPECT_LT(aboutFlood, 100u);
  // What other addresses do is still written.
  RigClient other(rig, RigClient::udp(40001, 0x7F000001));
  std::string id = other.registerAs();
  EXPECT_TRUE(rig.logged("ID " + id + " online from 127.0.0.1:40001"));
}

TEST(SourceBudgets, HandshakeFloodFromManyAddressesLeavesRoomForKnownAndTcpClients) {
  RelayConfig config = testConfig();
  config.handshakeShare = RelayConfig().handshakeShare;
  ServerRig rig(config);
  RigClient known(rig, RigClient::udp(40001, 0x7F000001));
  std::string id = known.registerAs();
  // Forged handshakes from twenty thousand addresses at once, each within
  // its own address's rate: each costs key work, none will ever answer. A
  // handshake takes well over 50 us on any machine, so the budget (a quarter
  // of a second's work) serves a few thousand at most.
  ClientCodec forger;
  Bytes packet = forger.handshake();
  const uint64_t before = rig.server.stats().welcomes;
  for (uint32_t i = 0; i < 20000; ++i) rig.server.receive(RigClient::udp(30000, 0x0B000000 + i), packet);
  uint64_t served = rig.server.stats().welcomes - before;
  EXPECT_LT(served, 5000u);
  EXPECT_EQ(rig.server.stats().overBudget, 20000 - served);
  // The known client's new handshake and a new TCP client still get through.
  ASSERT_TRUE(known.handshake());
  EXPECT_EQ(known.say("HELLO " + id), std::vector<std::string>{"ID " + id + " 86400"});
  RigClient tcp(rig, Endpoint::tcp(0x0C000001, 50000, 9));
  EXPECT_FALSE(tcp.registerAs().empty());
  // A second later there is room again for new addresses.
  rig.loop.advance(1);
  RigClient fresh(rig, RigClient::udp(40002, 0x0D000001));
  EXPECT_FALSE(fresh.registerAs().empty());
}

TEST(SourceBudgets, IntroductionsFromOneAddressAreBoundedAcrossItsSessions) {
  ServerRig rig;
  RigClient host(rig, RigClient::udp(40001, 0x7F000001));
  std::string idHost = host.registerAs();
  host.say("HELLO " + idHost + " 192.168.1.2 4000 " + std::string(128, 'B') + " 127.0.0.1 0");
  // Each session stays within its own budget; together they would write a
  // usage record per introduction.
  int peers = 0;
  for (int s = 0; s < 40; ++s) {
    RigClient c(rig, RigClient::udp(uint16_t(20000 + s), kFloodIP));
    c.registerAs();
    for (int i = 0; i < 5; ++i) {
      auto lines = c.say("CONNECT " + idHost + " 192.168.1.20 40000 " + std::string(128, 'A'));
      peers += !lines.empty() && lines[0].rfind("PEER ", 0) == 0;
    }
  }
  EXPECT_LE(peers, 70);
}
