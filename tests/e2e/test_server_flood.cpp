// plimo-server as a process under a flood from many loopback addresses
// (127.0.0.0/8): forged handshakes, garbage and idle TCP connections, for a
// few seconds, while real clients register, ping and relay. Bounded: about
// ten seconds.

#include <gtest/gtest.h>

#include <memory>

#include "e2e/Flood.h"
#include "e2e/ServerProcess.h"

using namespace plimo;
using namespace plimo::e2e;

namespace {

const std::string kKey(128, 'A');

}  // namespace

TEST(ServerFlood, ForgedHandshakesGarbageAndIdleConnectionsFromManyAddressesDenyNoRealClient) {
  TempDir dir("flood");
  // Under AddressSanitizer freed memory waits in a quarantine (256 MB by
  // default) that would hide what the server itself keeps.
  std::string asan = std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "";
  ::setenv("ASAN_OPTIONS", (asan + (asan.empty() ? "" : ":") + "quarantine_size_mb=8").c_str(), 1);
  ServerProcess server(dir / "data", dir / "out.txt");
  ::setenv("ASAN_OPTIONS", asan.c_str(), 1);
  if (server.program.empty()) GTEST_SKIP() << "plimo-server is not built in this tree";
  ASSERT_TRUE(server.up());
  NetClient a(server.udpPort, false);
  NetClient b(server.udpPort, false);
  NetClient t(server.tcpPorts[0], true);
  std::string idA = a.registerAs(), idB = b.registerAs(), idT = t.registerAs();
  ASSERT_FALSE(idA.empty() || idB.empty() || idT.empty()) << server.log();
  auto peer = a.say("CONNECT " + idB + " 127.0.0.1 1 " + kKey, "PEER");
  ASSERT_FALSE(peer.empty());
  ASSERT_EQ(peer.back().rfind("PEER ", 0), 0u);
  b.say("PING x", "PONG");  // takes b's PEER line too
  long rssBefore = residentKb(server.process->pid());

  // About 15,000 packets a second: more handshakes than the server's budget,
  // each address within its own rate.
  auto flood = std::make_unique<Flood>(server.udpPort, 150);
  // Idle TCP connections from 300 addresses, half with one garbage frame.
  std::vector<int> idle;
  sockaddr_in tcpTo = loopback(server.tcpPorts[0]);
  for (uint32_t i = 1; i <= 300u; ++i) {
    int fd = socketAt(SOCK_STREAM, 0x7F040000 + i);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&tcpTo), sizeof tcpTo) == 0 && i % 2) {
      const uint8_t frame[] = {0x00, 0x02, 0xAB, 0xCD};
      (void)!::send(fd, frame, sizeof frame, MSG_NOSIGNAL);
    }
    idle.push_back(fd);
  }

  int pings = 0, pongs = 0, sent = 0, arrived = 0, intact = 0;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(8);
  while (std::chrono::steady_clock::now() < end) {
    for (NetClient* c : {&a, &t}) {
      ++pings;
      auto lines = c->say("PING " + std::to_string(pings), "PONG " + std::to_string(pings) + " ", 2.0);
      pongs += !lines.empty() && lines.back().rfind("PONG " + std::to_string(pings) + " ", 0) == 0;
    }
    for (int i = 0; i < 20; ++i, ++sent) {
      Bytes packet{0x14, 0xC0};
      packet.resize(1000, uint8_t(sent));
      a.send(packet);
    }
    for (auto p = b.receive(0.5); p; p = b.receive(0.1)) {
      if (p->size() < 2 || (*p)[0] != 0x14) continue;
      ++arrived;
      intact += p->size() == 1000 && (*p)[1] == 0xC0 && std::all_of(p->begin() + 2, p->end(), [&](uint8_t x) { return x == (*p)[2]; });
    }
  }
  flood.reset();

  EXPECT_EQ(pongs, pings);
  EXPECT_EQ(intact, arrived);
  EXPECT_GE(arrived, sent * 9 / 10) << "of " << sent;
  // Every real client still holds its ID.
  for (auto [c, id] : {std::pair{&a, idA}, {&b, idB}, {&t, idT}}) {
    auto lines = c->say("HELLO " + id + " 127.0.0.1 1 " + kKey + " 127.0.0.1 0", "ID ");
    ASSERT_FALSE(lines.empty()) << id;
    EXPECT_EQ(lines.back().rfind("ID " + id + " ", 0), 0u) << lines.back();
  }
  EXPECT_TRUE(server.process->running());
  // Bounded: the unconfirmed sessions of forged handshakes and the idle
  // connections cost some megabytes, not a growing heap.
  long rssAfter = residentKb(server.process->pid());
  EXPECT_LT(rssAfter - rssBefore, 200 * 1024) << rssBefore << " kB before, " << rssAfter << " kB after";
  for (int fd : idle) ::close(fd);
}
