// The UDP socket on real loopback sockets, and the address helpers.
#include <gtest/gtest.h>

#include <cerrno>

#include "protocol/net/Net.h"
#include "protocol/net/UDPSocket.h"
#include "testkit/GatedLoop.h"

using namespace plimo;
using namespace plimo::testkit;

TEST(UDPSocket, DatagramsWaitingTogetherArriveInOrderInOneTask) {
  GatedLoop loop;
  std::vector<std::pair<int, Bytes>> got;  // main-loop task, datagram
  Address sender;
  UDPSocket socket(loop, [&](Bytes data, const Address& from) {
    got.emplace_back(loop.ran, std::move(data));
    sender = from;
  });
  ASSERT_NE(socket.localPort(), 0);
  ManualLoop otherLoop;
  UDPSocket other(otherLoop, [](Bytes, const Address&) {});
  Address to{"127.0.0.1", socket.localPort()};

  // The reader posts the first datagram and is kept inside post() while the
  // rest wait in the socket, so they make one batch.
  loop.hold();
  other.send(toBytes("first"), to);
  ASSERT_TRUE(loop.waitForPosts(1));
  std::vector<Bytes> burst;
  for (int i = 0; i < 20; ++i) burst.push_back(Bytes(size_t(1 + i * 97), uint8_t(i)));
  burst.push_back(Bytes(65507, 0x5A));  // the largest IPv4 datagram
  for (auto& d : burst) other.send(d, to);
  loop.release();
  ASSERT_TRUE(loop.waitForPosts(2));
  loop.inner.runPending();

  ASSERT_EQ(got.size(), burst.size() + 1);
  EXPECT_EQ(got[0], std::make_pair(1, toBytes("first")));
  for (size_t i = 0; i < burst.size(); ++i) {
    EXPECT_EQ(got[i + 1].first, 2) << i;
    EXPECT_EQ(got[i + 1].second, burst[i]) << i;
  }
  EXPECT_EQ(sender, (Address{"127.0.0.1", other.localPort()}));
  EXPECT_EQ(other.lastSendError(), "");
}

TEST(UDPSocket, NothingIsDeliveredAfterTheSocketIsGone) {
  GatedLoop loop;
  int calls = 0;
  auto socket = std::make_unique<UDPSocket>(loop, [&](Bytes, const Address&) { ++calls; });
  ManualLoop otherLoop;
  UDPSocket other(otherLoop, [](Bytes, const Address&) {});
  other.send(toBytes("late"), Address{"127.0.0.1", socket->localPort()});
  ASSERT_TRUE(loop.waitForPosts(1));
  socket.reset();
  loop.inner.runPending();
  EXPECT_EQ(calls, 0);
}

TEST(UDPSocket, SendsThatCannotLeave) {
  ManualLoop loop;
  UDPSocket socket(loop, [](Bytes, const Address&) {});
  socket.send(Bytes{}, Address{"127.0.0.1", 9});
  socket.send(toBytes("x"), Address{"", 9});
  socket.send(toBytes("x"), Address{"relay.example", 9});
  socket.send(toBytes("x"), Address{"300.1.1.1", 9});
  EXPECT_EQ(socket.lastSendError(), "");
  // Broadcast without permission to broadcast (or no route at all): refused.
  socket.send(toBytes("x"), Address{"255.255.255.255", 9});
  EXPECT_TRUE(socket.lastSendError().ends_with(" (to 255.255.255.255:9)")) << socket.lastSendError();
  EXPECT_FALSE(socket.localNetworkBlocked());
}

TEST(NetHelpers, LocalPolicyRefusal) {
  EXPECT_TRUE(refusedByLocalPolicy(EPERM, "192.168.1.5"));
  EXPECT_TRUE(refusedByLocalPolicy(EACCES, "10.0.0.7"));
  EXPECT_FALSE(refusedByLocalPolicy(EPERM, "8.8.8.8"));
  EXPECT_FALSE(refusedByLocalPolicy(EHOSTUNREACH, "192.168.1.5"));
}

TEST(NetHelpers, PrivateAddresses) {
  EXPECT_FALSE(isPrivate("172.15.0.1"));
  EXPECT_FALSE(isPrivate("172.32.0.1"));
  EXPECT_TRUE(isPrivate("172.16.0.1"));
  EXPECT_TRUE(isPrivate("172.31.255.255"));
  EXPECT_TRUE(isPrivate("10.1.2.3"));
  EXPECT_TRUE(isPrivate("192.168.0.1"));
  EXPECT_TRUE(isPrivate("169.254.10.1"));
  EXPECT_FALSE(isPrivate("10.1.2"));
  EXPECT_FALSE(isPrivate("192.169.0.1"));
  EXPECT_FALSE(isPrivate(""));
  EXPECT_FALSE(isPrivate("10.x.2.3"));
  EXPECT_TRUE(isPrivate("10..1.2.3"));  // empty parts are dropped
  EXPECT_FALSE(isPrivate("10.1.2.3.4"));
}

TEST(NetHelpers, LocalAddressPrefersALanCard) {
  EXPECT_EQ(chooseLocalIPv4({{"utun0", "10.8.0.2"}, {"en1", "192.168.1.9"}}), "192.168.1.9");
  EXPECT_EQ(chooseLocalIPv4({{"docker0", "172.17.0.1"}, {"enp3s0", "192.168.1.9"}}), "192.168.1.9");
  EXPECT_EQ(chooseLocalIPv4({{"tun0", "10.8.0.2"}, {"wlp2s0", "192.168.1.7"}}), "192.168.1.7");
  EXPECT_EQ(chooseLocalIPv4({{"virbr0", "192.168.122.1"}, {"eth0", "10.0.0.4"}}), "10.0.0.4");
  EXPECT_EQ(chooseLocalIPv4({{"tun0", "10.8.0.2"}}), "10.8.0.2");
  EXPECT_EQ(chooseLocalIPv4({}), "0.0.0.0");
  EXPECT_NE(localIPv4().find('.'), std::string::npos);
}

TEST(NetHelpers, Resolution) {
  EXPECT_EQ(resolveIPv4("127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(resolveIPv4("localhost"), "127.0.0.1");
  EXPECT_EQ(resolveIPv4(""), std::nullopt);
}

TEST(NetHelpers, TextHelpers) {
  EXPECT_EQ(trimWhitespace(" \t ID 1\r\n"), "ID 1");
  EXPECT_EQ(trimWhitespace(" \n"), "");
  EXPECT_EQ(utf8Lossy("ok \xC3\xA9"), "ok \xC3\xA9");
  EXPECT_EQ(utf8Lossy("\xC3"), "\xEF\xBF\xBD");
  EXPECT_EQ(utf8Lossy("a\xED\xA0\x80z"), "a\xEF\xBF\xBDz");  // a surrogate is not text
  EXPECT_EQ(utf8Lossy("\xE2\x82"), "\xEF\xBF\xBD");
  EXPECT_EQ(parseDecimal("+5"), 5);
  EXPECT_EQ(parseDecimal("-3"), -3);
  EXPECT_EQ(parseDecimal("+-3"), std::nullopt);
  EXPECT_EQ(parseDecimal("99999999999999999999"), std::nullopt);
  EXPECT_EQ(parseDecimal("4a"), std::nullopt);
}
