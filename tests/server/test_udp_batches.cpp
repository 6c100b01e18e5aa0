// Batched UDP on real loopback sockets: what leaves in one flush arrives as
// the same datagrams, whole and in order, segmented runs included.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/udp.h>
#include <unistd.h>

#include <array>
#include <cstring>

#include "server/UdpBatches.h"

using namespace plimo;

namespace {

struct Socket {
  Socket() {
    fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t length = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    at = Endpoint::udp(INADDR_LOOPBACK, ntohs(a.sin_port));
  }
  ~Socket() { ::close(fd); }
  std::vector<Bytes> drain() {
    std::vector<Bytes> got;
    uint8_t buffer[70000];
    ssize_t n;
    while ((n = ::recv(fd, buffer, sizeof buffer, 0)) >= 0) got.emplace_back(buffer, buffer + n);
    return got;
  }
  int fd;
  Endpoint at;
};

Bytes datagram(size_t size, uint8_t tag) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = uint8_t(tag + i * 7);
  return b;
}

}  // namespace

TEST(UdpBatches, EveryQueuedDatagramArrivesWholeAndInOrder) {
  Socket server, a, b;
  UdpBatches batches;
  batches.prepare(server.fd);
  // Runs of equal sizes to one address (segmented), a shorter one ending a
  // run, sizes too large to join, empty ones, and a second address between
  // (each address's datagrams leave together, in their order).
  std::vector<std::pair<Socket*, Bytes>> plan;
  for (int i = 0; i < 70; ++i) plan.emplace_back(&a, datagram(1183, uint8_t(i)));
  plan.emplace_back(&a, datagram(500, 200));
  plan.emplace_back(&a, datagram(1183, 201));
  plan.emplace_back(&b, datagram(1183, 202));
  plan.emplace_back(&a, datagram(1183, 203));
  plan.emplace_back(&a, datagram(0, 0));
  plan.emplace_back(&a, datagram(0, 0));
  for (int i = 0; i < 3; ++i) plan.emplace_back(&b, datagram(9000, uint8_t(210 + i)));
  for (int i = 0; i < 3; ++i) plan.emplace_back(&b, datagram(60, uint8_t(220 + i)));
  std::vector<Bytes> wantA, wantB;
  for (auto& [to, bytes] : plan) {
    batches.queue(server.fd, to->at, bytes);
    (to == &a ? wantA : wantB).push_back(bytes);
  }
  batches.flush(server.fd);
  EXPECT_EQ(a.drain(), wantA);
  EXPECT_EQ(b.drain(), wantB);

  // And in: a batch at a time, each with its sender.
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(server.at.port);
  std::vector<Bytes> sent;
  for (int i = 0; i < 80; ++i) {
    sent.push_back(datagram(size_t(100 + i), uint8_t(i)));
    ::sendto(a.fd, sent.back().data(), sent.back().size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  std::vector<Bytes> got;
  std::vector<size_t> counts;
  for (int i = 0; i < 3; ++i) {
    counts.push_back(batches.receive(server.fd, [&](const Endpoint& from, ByteView bytes) {
      EXPECT_EQ(from, a.at);
      got.emplace_back(bytes.begin(), bytes.end());
    }));
  }
  EXPECT_EQ(counts, (std::vector<size_t>{UdpBatches::kBatch, 80 - UdpBatches::kBatch, 0}));
  EXPECT_EQ(got, sent);

  // A run the kernel hands over coalesced (here a segmented send, as a
  // network card's receive offload joins a burst) comes out as its
  // datagrams, the shorter last one included.
  std::vector<Bytes> run;
  Bytes joined;
  for (int i = 0; i < 12; ++i) {
    run.push_back(datagram(i < 11 ? 1183 : 700, uint8_t(i)));
    append(joined, run.back());
  }
  iovec vector{joined.data(), joined.size()};
  UdpBatches::SegmentControl control{};
  msghdr h{};
  h.msg_name = &to;
  h.msg_namelen = sizeof to;
  h.msg_iov = &vector;
  h.msg_iovlen = 1;
  UdpBatches::setSegmentSize(h, control, 1183);
  ASSERT_EQ(::sendmsg(a.fd, &h, 0), ssize_t(joined.size()));
  got.clear();
  batches.receive(server.fd, [&](const Endpoint& from, ByteView bytes) {
    EXPECT_EQ(from, a.at);
    got.emplace_back(bytes.begin(), bytes.end());
  });
  EXPECT_EQ(got, run);
}
