// Two server links meeting through a scripted server on in-memory links that
// drop, duplicate and re-address packets: direct and relayed sessions, and
// sessions whose two sides locked to different paths.
#include <gtest/gtest.h>

#include <set>

#include "protocol/link/PlimoClient.h"
#include "testkit/PartnerNet.h"

namespace plimo {
namespace {

using testkit::LossyLink;
using testkit::PartnerNet;
using State = PlimoClient::State;

// A sealed "PUNCHACK": the 8-byte line and the channel's 25 bytes. No other
// packet in these tests has that size.
constexpr size_t kPunchAckSize = 33;

Bytes sessionPacket(uint8_t kind, int n) {
  return Bytes{kind, uint8_t(n), uint8_t(n >> 8), 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
}

// Sends `count` session packets each way, one every 0.5 s, and checks that
// each side got the other's, in order and once each.
void exchange(PartnerNet& net, int count) {
  size_t aHad = net.a.data.size(), bHad = net.b.data.size();
  for (int i = 0; i < count; ++i) {
    net.a.c().sendData(sessionPacket(0x81, i));
    net.b.c().sendData(sessionPacket(0x82, i));
    net.loop.advance(0.5);
  }
  ASSERT_EQ(net.b.data.size() - bHad, size_t(count));
  ASSERT_EQ(net.a.data.size() - aHad, size_t(count));
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(net.b.data[bHad + size_t(i)], sessionPacket(0x81, i));
    EXPECT_EQ(net.a.data[aHad + size_t(i)], sessionPacket(0x82, i));
  }
}

TEST(ClientPeerPair, DirectSessionBothWays) {
  PartnerNet net;
  ASSERT_TRUE(net.start());
  net.a.c().connect(net.b.id);
  ASSERT_TRUE(net.runUntil([&] { return net.bothConnected(); }, 1.0));
  EXPECT_FALSE(net.a.c().viaRelay());
  EXPECT_FALSE(net.b.c().viaRelay());
  EXPECT_EQ(net.a.c().checkNumber(), net.b.c().checkNumber());
  EXPECT_FALSE(net.a.c().checkNumber().empty());
  EXPECT_EQ(net.a.c().partnerID(), net.b.id);
  EXPECT_EQ(net.b.c().partnerID(), net.a.id);
  EXPECT_TRUE(net.a.logged("Direct encrypted link to "));
  EXPECT_TRUE(net.b.logged("Direct encrypted link to "));
  EXPECT_EQ(net.a.linesStarting("SESSION START " + net.b.id + " V"), 1u);
  EXPECT_EQ(net.b.linesStarting("SESSION START " + net.a.id + " H"), 1u);
  EXPECT_EQ(net.a.connects, 1);
  EXPECT_EQ(net.b.connects, 1);
  exchange(net, 10);

  net.a.c().sendPeer("MSG Hello from A", net.a.c().peer());
  net.loop.advance(0.1);
  EXPECT_EQ(net.b.messages, std::vector<std::string>{"Hello from A"});

  net.a.c().disconnect();
  net.loop.advance(0.1);
  EXPECT_EQ(net.b.c().state(), State::registered);
  EXPECT_EQ(net.b.disconnects, 1);
  EXPECT_TRUE(net.b.logged("Partner disconnected"));
  EXPECT_EQ(net.a.linesStarting("SESSION END"), 1u);
  EXPECT_EQ(net.b.linesStarting("SESSION END"), 1u);
}

TEST(ClientPeerPair, NatThatMapsANewPortStillLocks) {
  PartnerNet net;
  net.a.directSource = Address{net.a.publicAddress.ip, 61111};
  ASSERT_TRUE(net.start());
  net.a.c().connect(net.b.id);
  ASSERT_TRUE(net.runUntil([&] { return net.bothConnected(); }, 1.0));
  EXPECT_EQ(net.b.c().peer(), *net.a.directSource);
  exchange(net, 5);
}

TEST(ClientPeerPair, WithoutADirectPathTheServerPassesThePacketsOn) {
  PartnerNet net({.drop = 1.0});
  ASSERT_TRUE(net.start());
  double t0 = net.loop.now();
  net.a.c().connect(net.b.id);
  ASSERT_TRUE(net.runUntil([&] { return net.bothConnected(); }, 5.0));
  EXPECT_GT(net.loop.now() - t0, 2.8);  // not before the 15th try
  EXPECT_TRUE(net.a.c().viaRelay());
  EXPECT_TRUE(net.b.c().viaRelay());
  EXPECT_TRUE(net.a.logged("Encrypted link to the other PC through the server"));
  EXPECT_EQ(net.a.c().lastAttempt()->path, "through the server");
  exchange(net, 10);
}

TEST(ClientPeerPair, LossAndDuplicatesOnBothPaths) {
  PartnerNet net({.drop = 0.3, .duplicate = 0.3, .reorder = 0.2, .seed = 3},
                 {.drop = 0.2, .duplicate = 0.3, .delay = 0.02, .seed = 4});
  ASSERT_TRUE(net.start());
  net.a.c().connect(net.b.id);
  ASSERT_TRUE(net.runUntil([&] { return net.bothConnected(); }, 10.0));
  EXPECT_EQ(net.a.c().checkNumber(), net.b.c().checkNumber());
  std::set<Bytes> sent;
  for (int i = 0; i < 200; ++i) {
    sent.insert(sessionPacket(0x81, i));
    net.a.c().sendData(sessionPacket(0x81, i));
    net.loop.advance(0.05);
  }
  net.loop.advance(1.0);
  // Lost ones are the session channel's business; none arrives twice.
  std::set<Bytes> got(net.b.data.begin(), net.b.data.end());
  EXPECT_EQ(got.size(), net.b.data.size());
  EXPECT_GT(got.size(), 100u);
  for (auto& d : got) EXPECT_TRUE(sent.count(d));
  EXPECT_GT(net.direct.stats(LossyLink::End::a).duplicated, 0u);
}

// One side locks direct and the other through the server: the direct
// packets from the side that locks first are lost from its first PUNCHACK on
// until the partner stops punching, so the partner hears it only through the
// server. Each side then sends on its own path and takes the other's.
void splitPaths(bool viewerLocksDirect) {
  PartnerNet net;
  // The side that is introduced late punches first into a ready partner.
  PartnerNet::Side& first = viewerLocksDirect ? net.a : net.b;
  PartnerNet::Side& late = net.partnerOf(first);
  late.lineDelay = 0.1;
  ASSERT_TRUE(net.start());
  bool cut = false;
  net.direct.setFilter([&](LossyLink::End from, ByteView packet) {
    if (from != first.end) return true;
    if (packet.size() == kPunchAckSize) cut = true;
    return !cut || late.c().state() != State::punching;
  });
  net.a.c().connect(net.b.id);
  ASSERT_TRUE(net.runUntil([&] { return net.bothConnected(); }, 5.0));
  EXPECT_TRUE(cut);
  EXPECT_FALSE(first.c().viaRelay());
  EXPECT_TRUE(late.c().viaRelay());
  EXPECT_TRUE(first.logged("Direct encrypted link to "));
  EXPECT_TRUE(late.logged("Encrypted link to the other PC through the server"));

  exchange(net, 20);  // 10 s
  // Only pings from here on: the session outlives the 35 s silence limit.
  net.loop.advance(50.0);
  EXPECT_TRUE(net.bothConnected());
  EXPECT_EQ(net.a.disconnects + net.b.disconnects, 0);
  EXPECT_GT(net.direct.stats(first.end).delivered, 0u);  // its pings go direct
  EXPECT_GT(net.relayed.stats(late.end).delivered, 0u);  // the partner's through the server
  exchange(net, 2);
}

TEST(ClientPeerPair, ViewerDirectHostRelayedStaysUp) { splitPaths(true); }
TEST(ClientPeerPair, HostDirectViewerRelayedStaysUp) { splitPaths(false); }

TEST(ClientPeerPair, UnknownPartnerIsReported) {
  PartnerNet net;
  ASSERT_TRUE(net.start());
  net.a.c().connect("999999999");
  net.loop.advance(0.1);
  EXPECT_EQ(net.a.failures, std::vector<std::string>{"That ID is not online."});
  EXPECT_EQ(net.a.c().state(), State::registered);
}

}  // namespace
}  // namespace plimo
