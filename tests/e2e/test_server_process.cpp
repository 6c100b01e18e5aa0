// plimo-server as a real process, spoken to by protocol test clients over
// loopback UDP and TCP.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <random>

#include "e2e/ServerProcess.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "server/IdRegistry.h"

using namespace plimo;
using namespace plimo::e2e;

#define REQUIRE_SERVER(s)                                                          \
  if ((s).program.empty()) GTEST_SKIP() << "plimo-server is not built in this tree"; \
  ASSERT_TRUE((s).up())

TEST(ServerProcess, ShowsItsKeyAndServesClientsOverUdpAndTcp) {
  TempDir dir("server");
  ServerProcess server(dir / "data", dir / "out.txt");
  REQUIRE_SERVER(server);
  auto key = PlimoCrypto::fromHex(server.keyHex);
  ASSERT_TRUE(key && key->size() == 64) << server.log();
  EXPECT_NE(server.log().find("Server key fingerprint: " + PlimoCrypto::keyFingerprint(*key)), std::string::npos);
  // The log file holds the same lines.
  EXPECT_NE(readFile(dir / "data/plimo-server.log").find(server.keyHex), std::string::npos);

  NetClient udp(server.udpPort, false);
  std::string id = udp.registerAs();
  EXPECT_TRUE(IdRegistry::isValid(id)) << server.log();
  EXPECT_EQ(udp.codec.serverKey, *key);

  NetClient tcp(server.tcpPorts[0], true);
  ASSERT_TRUE(tcp.connected());
  std::string idTcp = tcp.registerAs();
  EXPECT_TRUE(IdRegistry::isValid(idTcp));
  EXPECT_NE(idTcp, id);
  auto pong = tcp.say("PING 1234ABCD", "PONG");
  ASSERT_FALSE(pong.empty());
  EXPECT_EQ(pong.back().rfind("PONG 1234ABCD ", 0), 0u);
  EXPECT_NE(pong.back().find(" 2 "), std::string::npos) << pong.back();
}

TEST(ServerProcess, KeyAndKeptIDsSurviveARestartAndANewFolderMakesANewKey) {
  TempDir dir("restart");
  std::string id, keyHex;
  {
    ServerProcess server(dir / "data", dir / "out1.txt");
    REQUIRE_SERVER(server);
    keyHex = server.keyHex;
    NetClient c(server.udpPort, false);
    id = c.registerAs();
    ASSERT_FALSE(id.empty());
    auto lines = c.say("PIN " + id + " secret-1", "ID ");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "PIN OK " + id);
  }
  ServerProcess again(dir / "data", dir / "out2.txt");
  ASSERT_TRUE(again.up());
  EXPECT_EQ(again.keyHex, keyHex);
  // A data folder belongs to one server at a time; a fleet shares a PostgreSQL store instead.
  std::string refused;
  EXPECT_EQ(again.command({"--udp-port", std::to_string(freePort(SOCK_DGRAM)), "--tcp-ports", "none"}, refused), 1);
  EXPECT_NE(refused.find("Another plimo-server serves from"), std::string::npos) << refused;
  NetClient c(again.udpPort, false);
  std::string temp = c.registerAs(id);
  EXPECT_NE(temp, id);  // kept: naming it is not enough
  auto lines = c.say("PIN " + id + " secret-1", "ID ");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "ID " + id + " pinned");

  ServerProcess other(dir / "data2", dir / "out3.txt");
  ASSERT_TRUE(other.up());
  EXPECT_NE(other.keyHex, keyHex);
}

TEST(ServerProcess, SurvivesGarbageAndStillServes) {
  TempDir dir("garbage");
  ServerProcess server(dir / "data", dir / "out.txt");
  REQUIRE_SERVER(server);
  std::mt19937 random(7);
  auto junk = [&](size_t max) {
    Bytes b(random() % max + 1);
    for (auto& x : b) x = uint8_t(random());
    // Often start like a real packet, to get past the first-byte check.
    if (random() % 2) b[0] = uint8_t(0x10 + random() % 5);
    return b;
  };
  NetClient udp(server.udpPort, false);
  for (int i = 0; i < 3000; ++i) udp.send(junk(i % 10 == 0 ? 2000 : 200));
  for (int i = 0; i < 20; ++i) {
    NetClient tcp(server.tcpPorts[0], true);
    for (int j = 0; j < 20; ++j) tcp.sendStream(junk(3000));
  }
  // A connection that sends a zero-length frame is dropped, others are not harmed.
  {
    NetClient bad(server.tcpPorts[0], true);
    bad.sendStream(Bytes{0, 0, 1, 2, 3});
    EXPECT_FALSE(bad.receive(1));
  }
  NetClient good(server.udpPort, false);
  EXPECT_TRUE(IdRegistry::isValid(good.registerAs())) << server.log();
  NetClient goodTcp(server.tcpPorts[0], true);
  EXPECT_TRUE(IdRegistry::isValid(goodTcp.registerAs()));
  EXPECT_TRUE(server.process->running());
}

TEST(ServerProcess, StrangersGetAResetAndByeEndsASession) {
  TempDir dir("reset");
  ServerProcess server(dir / "data", dir / "out.txt");
  REQUIRE_SERVER(server);
  NetClient c(server.udpPort, false);
  std::string id = c.registerAs();
  ASSERT_FALSE(id.empty());
  c.say("BYE", "", 0.3);
  ASSERT_TRUE(server.process->waitForOutput("ID " + id + " offline: said goodbye", 5)) << server.log();
  c.send(c.codec.seal("HELLO " + id));
  auto reply = c.receive(2);
  ASSERT_TRUE(reply);
  EXPECT_EQ(*reply, Bytes{0x13});
}

TEST(ServerProcess, RaisesItsDescriptorLimitAndSizesTheTcpCapFromIt) {
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  if (saved.rlim_max == RLIM_INFINITY || saved.rlim_max <= 512) {
    GTEST_SKIP() << "the hard descriptor limit leaves nothing to raise";
  }
  // The server starts with a soft limit far below the hard one, as under
  // most service managers and shells (1,024).
  rlimit low = saved;
  low.rlim_cur = 256;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  TempDir dir("limits");
  ServerProcess server(dir / "data", dir / "out.txt");
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
  REQUIRE_SERVER(server);
  EXPECT_NE(server.log().find("(" + std::to_string(saved.rlim_max) + " file descriptors)"), std::string::npos)
      << server.log();
  EXPECT_EQ(server.log().find("Up to 256 TCP"), std::string::npos);
}
