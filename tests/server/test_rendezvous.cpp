#include <gtest/gtest.h>

#include <algorithm>

#include "server/Rendezvous.h"
#include "server/ServerRig.h"

using namespace plimo;
using namespace plimo::testkit;

namespace {

const std::string kKeyA(128, 'A');
const std::string kKeyB(128, 'B');

struct Pair {
  ServerRig rig;
  RigClient a{rig, RigClient::udp(40001)};
  RigClient b{rig, Endpoint::tcp(0x0A000002, 50000, 3)};
  std::string idA, idB;
  Pair() {
    idA = a.registerAs();
    idB = b.registerAs();
    // HELLO's key for B.
    b.say("HELLO " + idB + " 192.168.7.7 41000 " + kKeyB + " 127.0.0.1 0");
  }
  void connect() {
    a.say("CONNECT " + idB + " 192.168.1.20 40000 " + kKeyA);
    b.lines();
  }
};

}  // namespace

TEST(Rendezvous, ConnectIntroducesBothSidesWithAddressesKeysAndTransport) {
  Pair p;
  auto toA = p.a.say("CONNECT " + p.idB + " 192.168.1.21 40005 " + kKeyA);
  ASSERT_EQ(toA.size(), 1u);
  EXPECT_EQ(toA[0], "PEER 10.0.0.2 50000 192.168.7.7 41000 " + kKeyB + " " + p.idB + " - T");
  auto toB = p.b.lines();
  ASSERT_EQ(toB.size(), 1u);
  EXPECT_EQ(toB[0], "PEER 127.0.0.1 40001 192.168.1.21 40005 " + kKeyA + " " + p.idA + " - U");
}

TEST(Rendezvous, ConnectErrorsAndTheUnknownIDLimit) {
  Pair p;
  EXPECT_EQ(p.a.say("CONNECT " + p.idA + " 1.2.3.4 1 " + kKeyA), std::vector<std::string>{"ERR SELF"});
  for (int i = 0; i < Rendezvous::kUnknownPerMinute; ++i) {
    EXPECT_EQ(p.a.say("CONNECT 11111111" + std::to_string(i) + " 1.2.3.4 1 " + kKeyA),
              std::vector<std::string>{"ERR UNKNOWN_ID"});
  }
  // Now even an online ID is refused until the minute is over.
  EXPECT_EQ(p.a.say("CONNECT " + p.idB + " 1.2.3.4 1 " + kKeyA), std::vector<std::string>{"ERR RATE_LIMIT"});
  p.rig.loop.advance(30);
  p.a.say("HELLO 0");
  p.b.say("HELLO 0");
  p.rig.loop.advance(31);
  auto lines = p.a.say("CONNECT " + p.idB + " 1.2.3.4 1 " + kKeyA);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("PEER ", 0), 0u);
  for (const char* bad : {"CONNECT", "CONNECT x", "CONNECT  1.2.3.4", "CONNECT 999999999999 a b c"}) {
    EXPECT_EQ(p.a.say(bad), std::vector<std::string>{"ERR UNKNOWN_ID"}) << bad;
  }
}

TEST(Rendezvous, NewSessionsFromOneAddressDoNotResetTheGuessLimit) {
  ServerRig rig;
  int unknown = 0;
  bool limited = false;
  for (int s = 0; s < 10 && !limited; ++s) {
    RigClient c(rig, RigClient::udp(uint16_t(41000 + s)));
    c.registerAs();
    c.say("HELLO 0 1.2.3.4 5 " + kKeyA + " 1.2.3.4 0");
    for (int i = 0; i < Rendezvous::kUnknownPerMinute; ++i) {
      auto lines = c.say("CONNECT 11111111" + std::to_string(i) + " 1.2.3.4 1 " + kKeyA);
      if (lines == std::vector<std::string>{"ERR RATE_LIMIT"}) limited = true;
      unknown += lines == std::vector<std::string>{"ERR UNKNOWN_ID"};
    }
  }
  EXPECT_TRUE(limited);
  EXPECT_EQ(unknown, int(Rendezvous::kUnknownPerAddress.burst));
}

TEST(Rendezvous, RelaysOnlyBetweenTheTwoOfAPair) {
  Pair p;
  Bytes packet{0x14, 0xC0, 1, 2, 3};
  p.rig.server.receive(p.a.endpoint, packet);
  EXPECT_TRUE(p.b.received().empty());  // no pair yet
  p.connect();
  p.rig.server.receive(p.a.endpoint, packet);
  auto atB = p.b.received();
  ASSERT_EQ(atB.size(), 1u);
  EXPECT_EQ(atB[0], packet);  // passed on unchanged
  EXPECT_TRUE(p.rig.sink.sent.back().droppable);
  Bytes back{0x14, 0xC0, 9};
  p.rig.server.receive(p.b.endpoint, back);
  EXPECT_EQ(p.a.received(), std::vector<Bytes>{back});

  // A third client cannot inject into the pair, and one byte alone is nothing.
  RigClient c(p.rig, RigClient::udp(40003));
  c.registerAs();
  p.rig.server.receive(c.endpoint, packet);
  p.rig.server.receive(p.a.endpoint, Bytes{0x14});
  EXPECT_TRUE(p.b.received().empty());
  EXPECT_TRUE(p.a.received().empty());
}

TEST(Rendezvous, PartnerGoneWhenEitherSideEnds) {
  Pair p;
  p.connect();
  p.b.say("BYE");
  EXPECT_EQ(p.a.lines(), std::vector<std::string>{"PARTNER GONE"});
  // Silence ends a session the same way.
  RigClient c(p.rig, RigClient::udp(40003));
  std::string idC = c.registerAs();
  c.say("HELLO " + idC + " 10.1.1.1 5 " + kKeyB + " 127.0.0.1 0");
  p.a.say("CONNECT " + idC + " 192.168.1.20 40000 " + kKeyA);
  c.lines();
  std::vector<std::string> heard;
  for (int i = 0; i < 4; ++i) {
    p.rig.loop.advance(20);
    for (auto& line : p.a.say("HELLO 0")) heard.push_back(line);
  }
  EXPECT_EQ(std::count(heard.begin(), heard.end(), "PARTNER GONE"), 1);
  EXPECT_EQ(heard.back().rfind("ID ", 0), 0u);
}

TEST(Rendezvous, SessionStartFromBothSidesAndAgainWithZeroIsOneRecord) {
  Pair p;
  p.connect();
  p.a.say("SESSION START " + p.idB + " V");
  p.b.say("SESSION START " + p.idA + " H");
  ASSERT_EQ(p.rig.store->usageCount(), 1);
  auto u = p.rig.store->usage(1);
  EXPECT_EQ(u->viewerID, p.idA);
  EXPECT_EQ(u->hostID, p.idB);
  EXPECT_EQ(u->reportedBy, "V");
  EXPECT_EQ(u->started, int64_t(p.rig.loop.wallNow()));

  // A's server session is rebuilt from another address mid-session.
  p.rig.loop.advance(30);
  p.b.say("HELLO 0");
  p.a.say("BYE");
  EXPECT_EQ(p.b.lines(), std::vector<std::string>{"PARTNER GONE"});
  RigClient a2(p.rig, RigClient::udp(40009));
  ASSERT_EQ(a2.registerAs(p.idA), p.idA);
  a2.say("SESSION START " + p.idB + " V 0");
  EXPECT_EQ(p.rig.store->usageCount(), 1);
  // The pair is whole again: relaying works.
  p.rig.server.receive(a2.endpoint, Bytes{0x14, 0xC0, 5});
  EXPECT_EQ(p.b.received().size(), 1u);

  p.rig.loop.advance(15);
  a2.say("SESSION END");
  p.b.say("SESSION END");
  EXPECT_EQ(*p.rig.store->usage(1)->seconds, 45);
  EXPECT_EQ(p.rig.server.rendezvous().openUsages(), 0u);
  // A new session of the same two, introduced again, is a new record.
  a2.say("CONNECT " + p.idB + " 192.168.1.20 40000 " + kKeyA);
  a2.say("SESSION START " + p.idB + " V");
  EXPECT_EQ(p.rig.store->usageCount(), 2);
  for (const char* bad : {"SESSION", "SESSION START", "SESSION START 12 V", "SESSION START 123456789 X",
                          "SESSION FOO"}) {
    a2.say(bad);
  }
  EXPECT_EQ(p.rig.store->usageCount(), 2);
}

TEST(Rendezvous, RecordEndsWhenNeitherSideIsOnline) {
  Pair p;
  p.connect();
  p.a.say("SESSION START " + p.idB + " V");
  p.rig.loop.advance(10);
  p.a.say("BYE");
  EXPECT_FALSE(p.rig.store->usage(1)->seconds);
  p.rig.loop.advance(5);
  p.rig.server.connectionClosed(p.b.endpoint);
  EXPECT_EQ(*p.rig.store->usage(1)->seconds, 15);
}

TEST(Rendezvous, BusyHelpedPCTakesANewHelperOnlyAfterEndingItsSession) {
  Pair p;
  p.connect();
  p.a.say("SESSION START " + p.idB + " V");
  p.b.say("SESSION START " + p.idA + " H");
  RigClient v2(p.rig, RigClient::udp(40005));
  std::string idV2 = v2.registerAs();
  auto toV2 = v2.say("CONNECT " + p.idB + " 192.168.1.30 40000 " + kKeyA);
  ASSERT_EQ(toV2.size(), 1u);
  EXPECT_EQ(toV2[0].rfind("PEER ", 0), 0u);
  p.b.lines();
  // The running pair still relays; the newcomer's packets go nowhere yet.
  p.rig.server.receive(v2.endpoint, Bytes{0x14, 0xC0, 7});
  EXPECT_TRUE(p.b.received().empty());
  p.rig.server.receive(p.b.endpoint, Bytes{0x14, 0xC0, 8});
  EXPECT_EQ(p.a.received().size(), 1u);
  // B gives up on A (silent) and ends that session: V2 becomes its partner.
  p.b.say("SESSION END");
  ASSERT_EQ(p.a.lines().size(), 1u);  // the report request
  p.rig.server.receive(v2.endpoint, Bytes{0x14, 0xC0, 7});
  EXPECT_EQ(p.b.received().size(), 1u);
  p.rig.server.receive(p.b.endpoint, Bytes{0x14, 0xC0, 8});
  EXPECT_EQ(v2.received().size(), 1u);
  EXPECT_TRUE(p.a.received().empty());
}
