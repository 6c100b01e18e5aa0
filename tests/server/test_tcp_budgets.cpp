// TCP connections are the scarcest thing the server has (a descriptor each,
// buffers, a slot under the cap): none may be held without a session, and
// no one source or stalled reader may take them all. The network tests run
// real loopback sockets with the server's timers on virtual time.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <asio/io_context.hpp>
#include <cerrno>
#include <chrono>

#include "server/ServerNetwork.h"
#include "server/ServerRig.h"

using namespace plimo;
using namespace plimo::testkit;

namespace {

// A client socket on its own loopback address, connected to `port`.
int connectFrom(uint32_t ip, uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  // A small window, so that a client that stops reading soon leaves what is
  // sent to it queued in the server.
  int window = 4096;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(ip);
  ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(port);
  server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// True when the server has closed the connection (end of stream).
bool closedByServer(int fd) {
  uint8_t byte;
  for (;;) {
    ssize_t n = ::recv(fd, &byte, 1, MSG_DONTWAIT);
    if (n == 0) return true;
    if (n < 0) return errno != EAGAIN && errno != EWOULDBLOCK;
  }
}

// The server's sockets on one io_context, its timers on a ManualLoop.
struct NetRig {
  explicit NetRig(size_t maxQueued = ServerNetwork::kMaxQueuedTotal) : network(context, loop, 1000, maxQueued) {
    // Bound to a port the kernel picks: one found free beforehand may be
    // taken by another program before the listener binds it.
    std::string error;
    EXPECT_TRUE(network.openTcp(0, error)) << error;
    if (!network.tcpPorts().empty()) port = network.tcpPorts().front();
  }
  // Runs what the sockets have ready (loopback delivers at once).
  void settle() {
    for (int idle = 0; idle < 3;) idle = context.run_for(std::chrono::milliseconds(5)) ? 0 : idle + 1;
  }
  ManualLoop loop;
  asio::io_context context;
  ServerNetwork network;
  uint16_t port = 0;
};

}  // namespace

TEST(TcpBudgets, GarbageOnAConnectionWithoutASessionClosesIt) {
  ServerRig rig;
  ClientCodec codec;
  Bytes shortHandshake = codec.handshake();
  shortHandshake.pop_back();
  uint64_t conn = 1;
  for (const Bytes& garbage : {Bytes{0xFF, 0xFF, 0xFF}, Bytes{0x12, 1, 2, 3}, Bytes{0x14, 0xC0, 1}, shortHandshake}) {
    Endpoint from = Endpoint::tcp(0x0A000009, 50000, conn++);
    rig.server.receive(from, garbage);
    ASSERT_FALSE(rig.sink.closed.empty());
    EXPECT_EQ(rig.sink.closed.back(), from);
  }
  // A real client's handshake keeps its connection.
  size_t closed = rig.sink.closed.size();
  RigClient c(rig, Endpoint::tcp(0x0A000009, 50001, conn++));
  EXPECT_FALSE(c.registerAs().empty());
  c.say("XYZZY");
  EXPECT_EQ(rig.sink.closed.size(), closed);
}

TEST(TcpBudgets, GarbageFrameThenATrickleHoldsNoConnection) {
  NetRig net;
  auto store = memoryStore();
  RelayServer server(net.loop, *store, SigningKey::generate(), net.network, testConfig(), [](const std::string&) {});
  net.network.setHandlers([&](const Endpoint& from, ByteView packet) { server.receive(from, packet); },
                          [&](const Endpoint& from) { server.connectionClosed(from); });
  int fd = connectFrom(0x7F000001, net.port);
  ASSERT_GE(fd, 0);
  const uint8_t garbage[] = {0x00, 0x03, 0xFF, 0xFF, 0xFF};
  ASSERT_EQ(::send(fd, garbage, sizeof garbage, 0), ssize_t(sizeof garbage));
  bool closed = false;
  for (int second = 0; second < 75 && !closed; ++second) {
    const uint8_t byte = 1;  // a frame of 257 bytes that never completes
    (void)!::send(fd, &byte, 1, MSG_NOSIGNAL);
    net.settle();
    net.loop.advance(1);
    net.settle();
    closed = closedByServer(fd);
  }
  EXPECT_TRUE(closed);
  EXPECT_EQ(net.network.connectionCount(), 0u);
  ::close(fd);
}

TEST(TcpBudgets, OneAddressCannotTakeEveryConnection) {
  NetRig net;
  net.network.setHandlers([](const Endpoint&, ByteView) {}, [](const Endpoint&) {});
  std::vector<int> fds;
  for (int i = 0; i < 300; ++i) fds.push_back(connectFrom(0x7F000001, net.port));
  net.settle();
  EXPECT_EQ(net.network.connectionCount(), ServerNetwork::kMaxConnectionsPerAddress);
  // Another address still gets in.
  fds.push_back(connectFrom(0x7F000002, net.port));
  net.settle();
  EXPECT_EQ(net.network.connectionCount(), ServerNetwork::kMaxConnectionsPerAddress + 1);
  for (int fd : fds) ::close(fd);
}

TEST(TcpBudgets, ClientsThatStopReadingCannotQueueWithoutBound) {
  constexpr size_t kTotal = 1024 * 1024;
  NetRig net(kTotal);
  std::vector<Endpoint> endpoints;
  net.network.setHandlers([&](const Endpoint& from, ByteView) { endpoints.push_back(from); }, [](const Endpoint&) {});
  std::vector<int> fds;
  const uint8_t hello[] = {0x00, 0x01, 0x10};
  for (uint32_t i = 0; i < 4; ++i) {
    fds.push_back(connectFrom(0x7F000001 + i, net.port));
    (void)!::send(fds.back(), hello, sizeof hello, 0);
  }
  net.settle();
  ASSERT_EQ(endpoints.size(), 4u);
  // None of them reads: relayed traffic is dropped once the total is reached.
  Bytes packet(1000, 0x14);
  for (int i = 0; i < 30000; ++i) {
    net.network.send(endpoints[size_t(i) % 3], packet, true);
    if (i % 500 == 0) net.settle();
  }
  net.settle();
  EXPECT_LE(net.network.queuedBytes(), kTotal);
  EXPECT_EQ(net.network.connectionCount(), 4u);
  // A packet of the server's own that no longer fits ends its connection.
  net.network.send(endpoints[3], packet, false);
  net.settle();
  EXPECT_EQ(net.network.connectionCount(), 3u);
  EXPECT_LE(net.network.queuedBytes(), kTotal);
  for (int fd : fds) ::close(fd);
}
