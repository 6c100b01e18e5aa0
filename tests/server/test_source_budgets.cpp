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
