// `plimo --headless` against plimo-server, both real processes on loopback,
// each client with its own PLIMO_HOME.

#include <gtest/gtest.h>

#include <random>

#include "core/PlimoID.h"
#include "e2e/HeadlessClient.h"
#include "e2e/ServerProcess.h"
#include "protocol/crypto/PlimoCrypto.h"

using namespace plimo;
using namespace plimo::e2e;

namespace {

std::string ports(const ServerProcess& s) { return std::to_string(s.tcpPorts[0]); }

}  // namespace

TEST(HeadlessClient, RegistersAndPinsTheServerKey) {
  REQUIRE_PROGRAMS();
  TempDir dir("headless");
  ServerProcess server(dir / "data", dir / "server.txt");
  ASSERT_TRUE(server.up());
  HeadlessClient client("client", relayIni(server.udpPort, ports(server)));
  client.start();
  ASSERT_TRUE(client.waitForID(20)) << client.output() << client.log();
  std::string id = client.lastID();
  EXPECT_TRUE(client.waitForLog("My ID is " + formatPlimoID(id), 5)) << client.log();
  EXPECT_NE(client.ini().find("Key=" + server.keyHex), std::string::npos) << client.ini();
  EXPECT_NE(server.log().find("ID " + id + " online from 127.0.0.1:"), std::string::npos);
}

TEST(HeadlessClient, AServerWithAnotherKeyIsRefused) {
  REQUIRE_PROGRAMS();
  TempDir dir("mismatch");
  uint16_t udp = freePort(SOCK_DGRAM);
  uint16_t tcp = freePort(SOCK_STREAM);
  std::string firstKey;
  HeadlessClient client("client", relayIni(udp, std::to_string(tcp)));
  {
    ServerProcess server(dir / "data1", dir / "server1.txt", udp, {tcp});
    ASSERT_TRUE(server.up());
    firstKey = server.keyHex;
    client.start();
    ASSERT_TRUE(client.waitForID(20)) << client.log();
    client.stop();
  }
  // Reinstalled: a new data folder, so a new key on the same ports.
  ServerProcess server(dir / "data2", dir / "server2.txt", udp, {tcp});
  ASSERT_TRUE(server.up());
  ASSERT_NE(server.keyHex, firstKey);
  client.start();
  ASSERT_TRUE(client.waitForLog("SECURITY: the server identified itself with key", 20)) << client.log();
  EXPECT_NE(client.log().find("but Plimo.ini expects " + PlimoCrypto::keyFingerprint(*PlimoCrypto::fromHex(firstKey))),
            std::string::npos);
  // The status the main window would show, on standard error.
  EXPECT_TRUE(client.waitForOutput("Server key mismatch", 5)) << client.output();
  // It stays silent: no ID, nothing registered on the server.
  std::this_thread::sleep_for(std::chrono::seconds(3));
  EXPECT_TRUE(client.ids().empty());
  EXPECT_EQ(server.log().find(" online from "), std::string::npos) << server.log();
  EXPECT_NE(client.ini().find("Key=" + firstKey), std::string::npos);
}

TEST(HeadlessClient, KeptIDComesBackAfterARestartAndAnotherPCCannotTakeIt) {
  REQUIRE_PROGRAMS();
  TempDir dir("keep");
  ServerProcess server(dir / "data", dir / "server.txt");
  ASSERT_TRUE(server.up());
  std::string secret = PlimoCrypto::hex(PlimoCrypto::randomBytes(32));
  HeadlessClient client("client", relayIni(server.udpPort, ports(server)) + "[ID]\nSecret=" + secret + "\n");
  client.start();
  ASSERT_TRUE(waitFor([&] { return client.ini().find("Pinned=") != std::string::npos && !client.lastID().empty(); }, 20))
      << client.log();
  std::string id = client.lastID();
  ASSERT_TRUE(waitFor([&] { return client.ini().find("Pinned=" + id) != std::string::npos; }, 5)) << client.ini();
  client.stop();

  client.start();
  ASSERT_TRUE(client.waitForID(20, id)) << client.output() << client.log();

  HeadlessClient other("other", relayIni(server.udpPort, ports(server)) + "[ID]\nSecret=" + std::string(64, 'E') +
                                    "\nPinned=" + id + "\n");
  other.start();
  ASSERT_TRUE(other.waitForLog("That ID is kept by another PC", 20)) << other.log();
  ASSERT_TRUE(other.waitForID(5));
  EXPECT_NE(other.lastID(), id);
  EXPECT_EQ(client.lastID(), id);
}

TEST(HeadlessClient, RegistersOverTcpWhenTheUdpPortDoesNotAnswer) {
  REQUIRE_PROGRAMS();
  TempDir dir("tcp");
  ServerProcess server(dir / "data", dir / "server.txt");
  ASSERT_TRUE(server.up());
  uint16_t deadUdp = freePort(SOCK_DGRAM);
  uint16_t deadTcp = freePort(SOCK_STREAM);
  HeadlessClient client("client", relayIni(deadUdp, std::to_string(deadTcp) + "," + ports(server)));
  client.start();
  ASSERT_TRUE(client.waitForID(30)) << client.log();
  std::string log = client.log();
  EXPECT_NE(log.find("No answer from the server on UDP " + std::to_string(deadUdp) + "; trying TCP " +
                     std::to_string(deadTcp) + " instead"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("over TCP " + ports(server)), std::string::npos) << log;
  // Three UDP handshakes went unanswered before TCP was tried.
  EXPECT_NE(log.find("trying TCP " + ports(server) + " instead"), std::string::npos);
}

TEST(HeadlessClient, ServerSurvivesGarbageAndStillServesAClient) {
  REQUIRE_PROGRAMS();
  TempDir dir("garbage");
  ServerProcess server(dir / "data", dir / "server.txt");
  ASSERT_TRUE(server.up());
  std::mt19937 random(11);
  NetClient udp(server.udpPort, false);
  for (int i = 0; i < 2000; ++i) {
    Bytes b(random() % 300 + 1);
    for (auto& x : b) x = uint8_t(random());
    udp.send(b);
  }
  for (int i = 0; i < 10; ++i) {
    NetClient tcp(server.tcpPorts[0], true);
    Bytes b(5000);
    for (auto& x : b) x = uint8_t(random());
    tcp.sendStream(b);
  }
  HeadlessClient client("client", relayIni(server.udpPort, ports(server)));
  client.start();
  ASSERT_TRUE(client.waitForID(20)) << client.log();
  EXPECT_TRUE(server.process->running());
}
