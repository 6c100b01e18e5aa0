// The TCP relay link on real loopback connections; the test is the server.
#include <gtest/gtest.h>

#include <asio/connect.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>
#include <chrono>
#include <random>
#include <thread>

#include "protocol/net/RelayTCPLink.h"
#include "testkit/GatedLoop.h"

using namespace plimo;
using namespace plimo::testkit;

namespace {

struct LoopbackServer {
  asio::io_context io;
  asio::ip::tcp::acceptor acceptor{io, asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), 0)};
  asio::ip::tcp::socket peer{io};

  uint16_t port() const { return acceptor.local_endpoint().port(); }
  void accept() { acceptor.accept(peer); }
  void write(const Bytes& data) { asio::write(peer, asio::buffer(data)); }
  Bytes read(size_t n) {
    Bytes data(n);
    asio::read(peer, asio::buffer(data));
    return data;
  }
};

Bytes frame(const std::string& text) {
  Bytes out;
  appendBE<uint16_t>(out, uint16_t(text.size()));
  append(out, toBytes(text));
  return out;
}

// Waits for a state the I/O thread sets; yields, never sleeps.
bool eventually(const std::function<bool()>& pred) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::yield();
  }
  return true;
}

struct Received {
  std::vector<std::pair<int, std::string>> packets;  // main-loop task, packet
};

}  // namespace

TEST(RelayTCPLink, ReassemblesFramesAcrossReadsAndKeepsTheirOrder) {
  LoopbackServer server;
  GatedLoop loop;
  Received got;
  RelayTCPLink link(loop, "127.0.0.1", server.port(),
                    [&](Bytes p) { got.packets.emplace_back(loop.ran, toString(p)); });
  EXPECT_EQ(link.port(), server.port());
  server.accept();
  ASSERT_TRUE(eventually([&] { return link.connected(); }));

  // Two whole frames and the header of a third in one write: the reader
  // delivers the two and is kept in post() while the payload follows.
  loop.hold();
  Bytes first = frame("one");
  append(first, frame("two"));
  Bytes third = frame("three");
  first.insert(first.end(), third.begin(), third.begin() + 2);
  server.write(first);
  ASSERT_TRUE(loop.waitForPosts(1));
  server.write(Bytes(third.begin() + 2, third.end()));
  loop.release();
  ASSERT_TRUE(loop.waitForPosts(2));
  loop.inner.runPending();
  using Got = std::vector<std::pair<int, std::string>>;
  EXPECT_EQ(got.packets, (Got{{1, "one"}, {1, "two"}, {2, "three"}}));
  EXPECT_FALSE(link.done());
}

TEST(RelayTCPLink, ZeroLengthFrameEndsTheLinkAsBadData) {
  LoopbackServer server;
  GatedLoop loop;
  Received got;
  RelayTCPLink link(loop, "127.0.0.1", server.port(), [&](Bytes p) { got.packets.emplace_back(0, toString(p)); });
  server.accept();
  Bytes data = frame("lost");
  append(data, Bytes{0x00, 0x00});
  append(data, frame("after"));
  server.write(data);
  ASSERT_TRUE(eventually([&] { return link.done(); }));
  EXPECT_EQ(link.error(), "bad data from the server");
  EXPECT_FALSE(link.connected());
  loop.inner.runPending();
  EXPECT_TRUE(got.packets.empty());  // nothing of that read is trusted
  link.cancel();
  EXPECT_EQ(link.error(), "bad data from the server");  // the first reason stays
}

TEST(RelayTCPLink, SendsFramesInOrderAndRefusesOversizedPackets) {
  LoopbackServer server;
  GatedLoop loop;
  RelayTCPLink link(loop, "127.0.0.1", server.port(), [](Bytes) {});
  link.send(toBytes("abc"), false);  // may still be connecting: queued
  link.send(Bytes{}, false);
  link.send(Bytes(65536, 1), false);
  Bytes biggest(65535, 7);
  link.send(biggest, true);
  server.accept();
  EXPECT_EQ(server.read(5), frame("abc"));
  EXPECT_EQ(server.read(2), (Bytes{0xFF, 0xFF}));
  EXPECT_EQ(server.read(65535), biggest);
  ASSERT_TRUE(eventually([&] { return link.queued() == 0; }));
}

TEST(RelayTCPLink, DroppableFramesWaitOnlyUpToTwoMebibytes) {
  constexpr size_t limit = 2 * 1024 * 1024;
  EXPECT_TRUE(RelayTCPLink::admits(limit - 10, 10, true));
  EXPECT_FALSE(RelayTCPLink::admits(limit - 10, 11, true));
  EXPECT_TRUE(RelayTCPLink::admits(limit, 100, false));
  EXPECT_TRUE(RelayTCPLink::admits(10 * limit, 3, false));
}

TEST(RelayTCPLink, EndReasons) {
  GatedLoop loop;
  {
    LoopbackServer server;
    RelayTCPLink link(loop, "127.0.0.1", server.port(), [](Bytes) {});
    server.accept();
    ASSERT_TRUE(eventually([&] { return link.connected(); }));
    server.peer.close();
    ASSERT_TRUE(eventually([&] { return link.done(); }));
    EXPECT_EQ(link.error(), "the server closed the connection");
  }
  {
    uint16_t port;
    {
      LoopbackServer gone;
      port = gone.port();
    }
    RelayTCPLink link(loop, "127.0.0.1", port, [](Bytes) {});
    ASSERT_TRUE(eventually([&] { return link.done(); }));
    EXPECT_EQ(link.error(), std::make_error_code(std::errc::connection_refused).message());
  }
  {
    LoopbackServer server;
    RelayTCPLink link(loop, "127.0.0.1", server.port(), [](Bytes) {});
    link.cancel();
    EXPECT_TRUE(link.done());
    EXPECT_EQ(link.error(), "closed");
    link.send(toBytes("x"), false);
    EXPECT_EQ(link.queued(), 0u);
  }
  {
    RelayTCPLink link(loop, "not an address", 80, [](Bytes) {});
    ASSERT_TRUE(eventually([&] { return link.done(); }));
    EXPECT_FALSE(link.error().empty());
  }
}

TEST(RelayTCPLink, GarbageStreamsNeverCrash) {
  std::mt19937 random(11);
  for (int round = 0; round < 20; ++round) {
    LoopbackServer server;
    GatedLoop loop;
    size_t packets = 0;
    RelayTCPLink link(loop, "127.0.0.1", server.port(), [&](Bytes p) {
      EXPECT_FALSE(p.empty());
      ++packets;
    });
    server.accept();
    Bytes junk(size_t(random() % 4000));
    for (auto& b : junk) b = uint8_t(random());
    std::error_code ignored;
    asio::write(server.peer, asio::buffer(junk), ignored);
    server.peer.close();
    ASSERT_TRUE(eventually([&] { return link.done(); }));
    EXPECT_TRUE(link.error() == "the server closed the connection" || link.error() == "bad data from the server")
        << link.error();
    loop.inner.runPending();
  }
}
