// plimo-server as a process under a flood from many loopback addresses
// (127.0.0.0/8): forged handshakes, garbage and idle TCP connections, for a
// few seconds, while real clients register, ping and relay; and with its
// database held by another process meanwhile. Bounded: about ten seconds
// each.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <memory>

#include "e2e/Flood.h"
#include "e2e/ServerProcess.h"
#include "protocol/wire/ReportPayload.h"
#include "server/ServerStore.h"

using namespace plimo;
using namespace plimo::e2e;

namespace {

const std::string kKey(128, 'A');

struct Traffic {
  int pings = 0, pongs = 0, sent = 0, arrived = 0, intact = 0;
  double slowestPong = 0;  // seconds
  std::vector<std::string> otherLines;  // what came besides the PONGs
};

// For `seconds`: each of `pinging` says PING and waits for its PONG, and
// `from` relays 20 packets of 1000 bytes at a time to its partner `to`.
Traffic exchange(std::vector<NetClient*> pinging, NetClient& from, NetClient& to, int seconds) {
  Traffic t;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    for (NetClient* c : pinging) {
      ++t.pings;
      std::string pong = "PONG " + std::to_string(t.pings) + " ";
      auto sent = std::chrono::steady_clock::now();
      auto lines = c->say("PING " + std::to_string(t.pings), pong, 2.0);
      bool answered = !lines.empty() && lines.back().rfind(pong, 0) == 0;
      t.pongs += answered;
      if (answered) {
        t.slowestPong = std::max(
            t.slowestPong, std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count());
        lines.pop_back();
      }
      t.otherLines.insert(t.otherLines.end(), lines.begin(), lines.end());
    }
    for (int i = 0; i < 20; ++i, ++t.sent) {
      Bytes packet{0x14, 0xC0};
      packet.resize(1000, uint8_t(t.sent));
      from.send(packet);
    }
    for (auto p = to.receive(0.5); p; p = to.receive(0.1)) {
      if (p->size() < 2 || (*p)[0] != 0x14) continue;
      ++t.arrived;
      t.intact += p->size() == 1000 && (*p)[1] == 0xC0 &&
                  std::all_of(p->begin() + 2, p->end(), [&](uint8_t x) { return x == (*p)[2]; });
    }
  }
  return t;
}

// Registers both and introduces `helper` to `helped`.
void pair(NetClient& helper, NetClient& helped, std::string& helperID, std::string& helpedID) {
  helperID = helper.registerAs();
  helpedID = helped.registerAs();
  ASSERT_FALSE(helperID.empty() || helpedID.empty());
  auto peer = helper.connectTo(helpedID);
  ASSERT_FALSE(peer.empty());
  ASSERT_EQ(peer.back().rfind("PEER ", 0), 0u);
  helped.say("PING x", "PONG");  // takes the helped side's PEER line too
}

void expectHello(NetClient& client, const std::string& id) {
  auto lines = client.say("HELLO " + id + " 127.0.0.1 1 " + kKey + " 127.0.0.1 0", "ID ");
  ASSERT_FALSE(lines.empty()) << id;
  EXPECT_EQ(lines.back().rfind("ID " + id + " ", 0), 0u) << lines.back();
}

// The lines starting with `prefix` that `client` hears within 20 s while it
// pings, until there are `count`.
std::vector<std::string> collect(NetClient& client, const std::string& prefix, size_t count) {
  std::vector<std::string> found;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (int n = 0; found.size() < count && std::chrono::steady_clock::now() < end; ++n) {
    for (const std::string& line : client.say("PING w" + std::to_string(n), prefix, 1.0)) {
      if (line.rfind(prefix, 0) == 0) found.push_back(line);
    }
  }
  return found;
}

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
  std::string idA, idB;
  ASSERT_NO_FATAL_FAILURE(pair(a, b, idA, idB)) << server.log();
  std::string idT = t.registerAs();
  ASSERT_FALSE(idT.empty()) << server.log();
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

  Traffic traffic = exchange({&a, &t}, a, b, 8);
  flood.reset();

  EXPECT_EQ(traffic.pongs, traffic.pings);
  EXPECT_EQ(traffic.intact, traffic.arrived);
  EXPECT_GE(traffic.arrived, traffic.sent * 9 / 10) << "of " << traffic.sent;
  // Every real client still holds its ID.
  for (auto [c, id] : {std::pair{&a, idA}, {&b, idB}, {&t, idT}}) expectHello(*c, id);
  EXPECT_TRUE(server.process->running());
  // Bounded: the unconfirmed sessions of forged handshakes and the idle
  // connections cost some megabytes, not a growing heap.
  long rssAfter = residentKb(server.process->pid());
  EXPECT_LT(rssAfter - rssBefore, 200 * 1024) << rssBefore << " kB before, " << rssAfter << " kB after";
  for (int fd : idle) ::close(fd);
}

TEST(ServerFlood, HandshakesThatMayTakeAWholeCoreLeaveRelayingAndPingsFlowing) {
  TempDir dir("flood-keys");
  // No budget to speak of: the flood keeps the key work busy all along.
  ServerProcess server(dir / "data", dir / "out.txt", 0, {},
                       {"--handshake-rate", "1000000", "--handshake-share", "1"});
  if (server.program.empty()) GTEST_SKIP() << "plimo-server is not built in this tree";
  ASSERT_TRUE(server.up());
  NetClient a(server.udpPort, false);
  NetClient b(server.udpPort, false);
  std::string idA, idB;
  ASSERT_NO_FATAL_FAILURE(pair(a, b, idA, idB)) << server.log();

  // About 30,000 packets a second, half of them handshakes: several times
  // what one core can answer.
  auto flood = std::make_unique<Flood>(server.udpPort, 300);
  Traffic traffic = exchange({&a, &b}, a, b, 5);
  expectHello(a, idA);
  flood.reset();

  EXPECT_EQ(traffic.pongs, traffic.pings);
  EXPECT_EQ(traffic.intact, traffic.arrived);
  EXPECT_GE(traffic.arrived, traffic.sent * 9 / 10) << "of " << traffic.sent;
  EXPECT_TRUE(server.process->running());
}

// Another process holds the database (sqlite3 in BEGIN EXCLUSIVE, as an
// administrator's shell or a backup might) for longer than a write ever
// waited, while partner sessions start and end and a PC keeps its ID.
TEST(ServerFaults, ADatabaseLockedByAnotherProcessDoesNotStallRelaying) {
  TempDir dir("locked-db");
  ServerProcess server(dir / "data", dir / "out.txt");
  if (server.program.empty()) GTEST_SKIP() << "plimo-server is not built in this tree";
  ASSERT_TRUE(server.up());
  NetClient a(server.udpPort, false);
  NetClient b(server.udpPort, false);
  NetClient c(server.udpPort, false);
  std::string idA, idB;
  ASSERT_NO_FATAL_FAILURE(pair(a, b, idA, idB)) << server.log();
  std::string idC = c.registerAs();
  ASSERT_FALSE(idC.empty()) << server.log();

  const std::string path = (dir / "data" / "plimo-server.db").string();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_busy_timeout(db, 5000);
  ASSERT_EQ(sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);

  c.send(c.codec.seal("PIN " + idC + " " + std::string(64, 'e')));
  constexpr int kSessions = 3;
  Traffic locked;
  for (int i = 0; i < kSessions; ++i) {
    if (i > 0) {
      auto peer = a.connectTo(idB);
      ASSERT_FALSE(peer.empty());
      peer.pop_back();
      locked.otherLines.insert(locked.otherLines.end(), peer.begin(), peer.end());
    }
    a.send(a.codec.seal("SESSION START " + idB + " V"));
    b.send(b.codec.seal("SESSION START " + idA + " H"));
    Traffic t = exchange({&a, &c}, a, b, 1);
    a.send(a.codec.seal("SESSION END"));
    locked.pings += t.pings;
    locked.pongs += t.pongs;
    locked.sent += t.sent;
    locked.arrived += t.arrived;
    locked.intact += t.intact;
    locked.slowestPong = std::max(locked.slowestPong, t.slowestPong);
    locked.otherLines.insert(locked.otherLines.end(), t.otherLines.begin(), t.otherLines.end());
  }
  // The last SESSION END reaches the server before the lock goes.
  auto beforeRelease = a.say("PING last", "PONG last");
  locked.otherLines.insert(locked.otherLines.end(), beforeRelease.begin(), beforeRelease.end());
  ASSERT_EQ(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);

  // A write that waited for the lock made the loop wait up to 2 s.
  EXPECT_EQ(locked.pongs, locked.pings);
  EXPECT_LT(locked.slowestPong, 1.5);
  EXPECT_EQ(locked.intact, locked.arrived);
  EXPECT_GE(locked.arrived, locked.sent * 9 / 10) << "of " << locked.sent;
  // Nothing is confirmed before it is stored.
  for (const std::string& line : locked.otherLines) {
    EXPECT_NE(line.rfind("PIN OK", 0), 0u) << line;
    EXPECT_NE(line.rfind("REPORTASK", 0), 0u) << line;
  }

  EXPECT_EQ(collect(c, "PIN OK", 1), std::vector<std::string>{"PIN OK " + idC});
  auto asks = collect(a, "REPORTASK", kSessions);
  ASSERT_EQ(asks.size(), size_t(kSessions)) << server.log();
  for (int i = 0; i < kSessions; ++i) EXPECT_EQ(asks[size_t(i)].rfind("REPORTASK " + std::to_string(i + 1) + " ", 0), 0u);
  EXPECT_NE(server.log().find("held by another process"), std::string::npos) << server.log();

  // Stopped while a record still waits for the lock: it is written before
  // the server exits.
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  a.connectTo(idB);
  a.send(a.codec.seal("SESSION START " + idB + " V"));
  a.send(a.codec.seal("SESSION END"));
  a.say("PING stop", "PONG stop");
  ::kill(server.process->pid(), SIGTERM);
  EXPECT_FALSE(waitFor([&] { return !server.process->running(); }, 0.5)) << "exited with a record unwritten";
  ASSERT_EQ(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
  EXPECT_TRUE(waitFor([&] { return !server.process->running(); }, 10));

  auto opened = ServerStore::open(path);
  ASSERT_TRUE(opened) << opened.error();
  auto& store = *opened;
  EXPECT_EQ(store->usageCount(), kSessions + 1);
  for (int64_t row = 1; row <= kSessions + 1; ++row) {
    auto usage = store->usage(row);
    ASSERT_TRUE(usage) << row;
    EXPECT_EQ(usage->viewerID, idA);
    EXPECT_TRUE(usage->seconds) << row;
  }
  EXPECT_TRUE(*store->pinHash(idC));
}

// Every REPORT line queued a database write, refused or not, and a full
// queue made the server loop wait for room: with the database held by
// another process, a PIN and 6,000 REPORT lines stopped PONGs and relaying
// for everyone until the lock went.
TEST(ServerFaults, ReportLinesWhileTheDatabaseIsLockedCannotStallTheLoop) {
  TempDir dir("locked-reports");
  ServerProcess server(dir / "data", dir / "out.txt");
  if (server.program.empty()) GTEST_SKIP() << "plimo-server is not built in this tree";
  ASSERT_TRUE(server.up());
  NetClient a(server.udpPort, false), b(server.udpPort, false), c(server.udpPort, false);
  NetClient flooder(server.udpPort, false);
  std::string idA, idB;
  ASSERT_NO_FATAL_FAILURE(pair(a, b, idA, idB)) << server.log();
  std::string idC = c.registerAs();
  ASSERT_FALSE(idC.empty() || flooder.registerAs().empty()) << server.log();

  const std::string path = (dir / "data" / "plimo-server.db").string();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  c.send(c.codec.seal("PIN " + idC + " " + std::string(64, 'e')));
  a.send(a.codec.seal("SESSION START " + idB + " V"));
  const std::string payload = ReportPayload::toBase64(
      "R1\n1\n1700000000\n1700000600\n600\n222333444\nFront desk PC\nAnna\nACME\nanna@acme.test\n1\n15\nFixed.");
  // Paced by a PING every 250 lines, so that the lines reach the server
  // rather than overflow its socket.
  int floodPongs = 0;
  for (int i = 0; i < 6000; ++i) {
    char msgID[9];
    std::snprintf(msgID, sizeof msgID, "%08x", i);
    flooder.send(flooder.codec.seal("REPORT " + std::string(msgID) + " 0 1 " + payload));
    if (i % 250 == 249) {
      std::string token = "f" + std::to_string(i);
      auto lines = flooder.say("PING " + token, "PONG " + token);
      floodPongs += !lines.empty() && lines.back().rfind("PONG " + token, 0) == 0;
    }
  }
  Traffic locked = exchange({&a, &c}, a, b, 1);
  a.send(a.codec.seal("SESSION END"));
  a.say("PING last", "PONG last");
  ASSERT_EQ(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);

  EXPECT_EQ(floodPongs, 6000 / 250);
  EXPECT_EQ(locked.pongs, locked.pings);
  EXPECT_LT(locked.slowestPong, 1.5);
  EXPECT_EQ(locked.intact, locked.arrived);
  EXPECT_GE(locked.arrived, locked.sent * 9 / 10) << "of " << locked.sent;
  // Once the lock goes, the PIN and the record of the session are written.
  EXPECT_EQ(collect(c, "PIN OK", 1), std::vector<std::string>{"PIN OK " + idC});
  auto asks = collect(a, "REPORTASK", 1);
  ASSERT_EQ(asks.size(), 1u) << server.log();
  EXPECT_EQ(asks[0].rfind("REPORTASK 1 ", 0), 0u) << asks[0];
}
