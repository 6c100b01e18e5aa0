// The TCP fallback (port order, timeouts, the pause after the whole list,
// server port lists), the relay test, start and stop.
#include <gtest/gtest.h>

#include "protocol/crypto/PlimoCrypto.h"
#include "testkit/ClientRig.h"

using namespace plimo;
using namespace plimo::testkit;

namespace {

size_t udpHandshakes(ClientRig& rig) {
  size_t n = 0;
  for (auto& d : rig.udp().sent) n += FakeRelayServer::isHandshake(d.data);
  return n;
}

size_t tcpHandshakes(TcpRecord& link) {
  size_t n = 0;
  for (auto& [p, droppable] : link.sent) n += FakeRelayServer::isHandshake(p);
  return n;
}

}  // namespace

TEST(ClientFallback, PortLists) {
  using P = std::vector<uint16_t>;
  EXPECT_EQ(PlimoClient::parsePortList("8443,443,80"), (P{8443, 443, 80}));
  EXPECT_EQ(PlimoClient::parsePortList(" 443;80, 443 8080,,22;21"), (P{443, 80, 8080, 22}));
  EXPECT_EQ(PlimoClient::parsePortList("+443"), (P{443}));
  EXPECT_EQ(PlimoClient::parsePortList("0,70000,http,-80"), P{});
  EXPECT_EQ(PlimoClient::parsePortList(""), P{});
  EXPECT_EQ(PlimoClient::portListText({}), "0");
  EXPECT_EQ(PlimoClient::portListText({443, 80}), "443,80");
}

TEST(ClientFallback, TriesTheTcpPortsInOrderUntilOneAnswers) {
  ClientRig rig("8443,443,80");
  double t0 = rig.loop.now();
  rig.start();
  rig.loop.advance(5.0);
  EXPECT_EQ(udpHandshakes(rig), 3u);  // at 0, 2 and 4 s
  EXPECT_TRUE(rig.sockets.tcp.empty());

  rig.loop.advance(1.0);  // 6 s: the third try went unanswered
  ASSERT_EQ(rig.sockets.tcp.size(), 1u);
  EXPECT_EQ(rig.sockets.tcp[0]->port, 8443);
  EXPECT_EQ(rig.sockets.tcp[0]->ip, ClientRig::kServerIP);
  EXPECT_TRUE(rig.logged("No answer from the server on UDP 47800; trying TCP 8443 instead"));
  EXPECT_EQ(rig.statuses.back(), "Trying the server on TCP port 8443...");
  EXPECT_EQ(rig.client->transport(), "TCP 8443");

  // 8443 never connects: given up after the 5-s timeout, 443 at once.
  rig.loop.advance(5.0);
  EXPECT_EQ(rig.sockets.tcp.size(), 1u);
  rig.loop.advance(1.0);  // 12 s
  EXPECT_TRUE(rig.logged("TCP 8443 to the server ended: Connection timed out"));
  ASSERT_EQ(rig.sockets.tcp.size(), 2u);
  EXPECT_EQ(rig.sockets.tcp[1]->port, 443);
  EXPECT_FALSE(rig.sockets.tcp[0]->alive());

  rig.sockets.tcp[1]->finish("Connection refused");
  rig.loop.advance(1.0);  // 13 s
  EXPECT_TRUE(rig.logged("TCP 443 to the server ended: Connection refused"));
  ASSERT_EQ(rig.sockets.tcp.size(), 3u);
  auto& port80 = *rig.sockets.tcp[2];
  EXPECT_EQ(port80.port, 80);
  port80.accept();
  rig.loop.advance(1.0);  // 14 s: the handshake goes over TCP
  ASSERT_EQ(tcpHandshakes(port80), 1u);
  EXPECT_FALSE(port80.sent[0].second);  // never droppable
  EXPECT_EQ(udpHandshakes(rig), 3u);
  EXPECT_NEAR(rig.loop.now() - t0, 14.0, 1e-9);

  rig.welcome();
  ASSERT_TRUE(rig.client->serverUp());
  EXPECT_TRUE(rig.logged("Secure connection to the server (AES-256-GCM) over TCP 80, server key " +
                         PlimoCrypto::keyFingerprint(rig.relay.longTerm.publicKey())));
  auto lines = rig.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].starts_with("HELLO 0 "));
  rig.sendLine("ID 123456789");

  // The session stays on TCP while the link lives.
  size_t udpBefore = rig.udp().sent.size();
  for (int i = 0; i < 10; ++i) {
    rig.loop.advance(20.0);
    rig.sendLine("ID 123456789");
  }
  EXPECT_EQ(rig.udp().sent.size(), udpBefore);
  EXPECT_EQ(rig.lines().size(), 10u);
  EXPECT_TRUE(rig.client->serverUp());

  // The link ends: the session is lost and UDP comes first again, on the same port list.
  port80.finish("the server closed the connection");
  rig.loop.advance(1.0);
  EXPECT_TRUE(rig.logged("TCP 80 to the server ended: the server closed the connection"));
  EXPECT_TRUE(rig.logged("Lost the TCP connection to the server, reconnecting..."));
  EXPECT_FALSE(rig.client->serverUp());
  rig.loop.advance(1.0);
  EXPECT_EQ(udpHandshakes(rig), 4u);
  EXPECT_EQ(rig.client->transport(), "UDP 47800");
  EXPECT_EQ(rig.kit().tcpPort(), 80);
}

// The connect timeout gives up only a port that has not connected by then.
TEST(ClientFallback, ConnectTimeoutSparesALinkThatConnectedInTime) {
  ClientRig rig("8443,443");
  rig.start();
  rig.loop.advance(6.0);
  ASSERT_EQ(rig.sockets.tcp.size(), 1u);
  rig.loop.advance(4.5);
  rig.sockets.tcp[0]->accept();  // half a second before the timeout
  rig.loop.advance(5.5);  // past the timeout, before the third handshake gives the port up
  EXPECT_EQ(rig.sockets.tcp.size(), 1u);
  EXPECT_FALSE(rig.sockets.tcp[0]->cancelled);
  EXPECT_EQ(tcpHandshakes(*rig.sockets.tcp[0]), 3u);
  for (auto& line : rig.logs) EXPECT_EQ(line.find("to the server ended"), std::string::npos) << line;
}

TEST(ClientFallback, PortThatAnswersButNotAsAServerIsGivenUpAfterThreeHandshakes) {
  ClientRig rig("8443,443");
  rig.start();
  rig.loop.advance(6.0);
  auto& link = *rig.sockets.tcp.at(0);
  link.accept();
  std::vector<double> times;
  double t0 = rig.loop.now();
  for (int i = 0; i < 8 && !link.cancelled; ++i) {
    size_t before = tcpHandshakes(link);
    rig.loop.advance(1.0);
    if (tcpHandshakes(link) > before) times.push_back(rig.loop.now() - t0);
  }
  EXPECT_EQ(times, (std::vector<double>{1, 3, 5}));
  EXPECT_NEAR(rig.loop.now() - t0, 7.0, 1e-9);  // when the fourth would have gone
  EXPECT_TRUE(rig.logged("TCP 8443 answers, but not as a Plimo server"));
  EXPECT_TRUE(link.cancelled);
  // The next port on the following tick.
  ASSERT_EQ(rig.sockets.tcp.size(), 1u);
  rig.loop.advance(1.0);
  ASSERT_EQ(rig.sockets.tcp.size(), 2u);
  EXPECT_EQ(rig.sockets.tcp[1]->port, 443);
}

TEST(ClientFallback, AfterTheWholeListUdpAgainAndTcpOnlyAfterThePause) {
  ClientRig rig("8443,443");
  rig.start();
  rig.loop.advance(6.0);
  double firstTcp = rig.loop.now();
  // Both ports refuse at once.
  rig.sockets.tcp[0]->finish("Connection refused");
  rig.loop.advance(1.0);
  ASSERT_EQ(rig.sockets.tcp.size(), 2u);
  double lastTcp = rig.loop.now();
  rig.sockets.tcp[1]->finish("Connection refused");
  size_t udp = udpHandshakes(rig);

  // Back to UDP every 2 s; the list again on the first handshake turn at
  // least 30 s after the last TCP start.
  while (rig.sockets.tcp.size() == 2 && rig.loop.now() - firstTcp < 100) rig.loop.advance(1.0);
  ASSERT_EQ(rig.sockets.tcp.size(), 3u);
  EXPECT_EQ(rig.sockets.tcp[2]->port, 8443);
  EXPECT_GE(rig.loop.now() - lastTcp, 30.0);
  EXPECT_LT(rig.loop.now() - lastTcp, 32.0);
  EXPECT_GE(udpHandshakes(rig) - udp, 3u);
}

TEST(ClientFallback, ServerPortListReplacesOnlyADifferentList) {
  ClientRig rig("8443,443,80");
  rig.bringUp();
  rig.sendLine("PORTS x 8443,443,80");
  rig.sendLine("PORTS x 8443;443;80");
  EXPECT_TRUE(rig.portChanges.empty());
  rig.sendLine("PORTS x 443,8443,80");
  EXPECT_EQ(rig.portChanges, std::vector<std::string>{"443,8443,80"});
  EXPECT_TRUE(rig.logged("The server's TCP fallback ports: 443,8443,80"));
  EXPECT_EQ(rig.kit().tcpPorts(), (std::vector<uint16_t>{443, 8443, 80}));
  EXPECT_EQ(rig.kit().tcpPort(), 443);
  EXPECT_EQ(rig.kit().tcpIndex(), 0u);
  rig.sendLine("PORTS x none");
  EXPECT_EQ(rig.portChanges.back(), "0");
  EXPECT_EQ(rig.kit().tcpPort(), 0);
}

TEST(ClientFallback, RelayedPartnerPacketsAreTheOnlyDroppableOnes) {
  ClientRig rig("80");
  rig.start();
  rig.loop.advance(6.0);
  rig.sockets.tcp[0]->accept();
  rig.loop.advance(1.0);
  rig.welcome();
  rig.sendLine("ID 123456789");
  auto& link = *rig.sockets.tcp[0];
  // A session going through the server (set up by hand here).
  auto keys = PlimoCrypto::derivePeerKeys(Bytes(32, 1), Bytes(64, 1), Bytes(64, 2));
  rig.kit().lockTo(SecureChannel::toPartner(keys), Address{});
  rig.client->sendData(Bytes{0x81, 1, 2});
  ASSERT_FALSE(link.sent.empty());
  EXPECT_EQ(link.sent.back().first[0], 0x14);
  EXPECT_EQ(link.sent.back().first[1], 0xC0);
  EXPECT_TRUE(link.sent.back().second);
  for (size_t i = 0; i + 1 < link.sent.size(); ++i) EXPECT_FALSE(link.sent[i].second);
}

TEST(ClientRelayTest, PongWithTheTokenEndsTheTest) {
  ClientRig rig;
  rig.start();
  rig.loop.advance(0.5);
  rig.client->testRelay();
  rig.client->testRelay();  // one test at a time
  std::string token = rig.kit().testToken();
  EXPECT_EQ(token.size(), 8u);
  EXPECT_EQ(rig.handshakes().size(), 2u);  // the test starts a handshake at once
  rig.welcome();
  auto lines = rig.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0].starts_with("HELLO "));
  EXPECT_EQ(lines[1], "PING " + token);

  rig.loop.advance(0.25);
  rig.sendLine("PONG 00000000 1.0 5 3h");
  EXPECT_TRUE(rig.tests.empty());
  rig.sendLine("PONG " + token + " 1.2 17 4d");
  ASSERT_EQ(rig.tests.size(), 1u);
  EXPECT_TRUE(std::get<0>(rig.tests[0]));
  EXPECT_EQ(std::get<1>(rig.tests[0]), 250);
  EXPECT_EQ(std::get<2>(rig.tests[0]), "server 1.2, 17 online, up 4d");
  rig.sendLine("PONG " + token + " 1.2 17 4d");
  EXPECT_EQ(rig.tests.size(), 1u);

  // With a session the PING leaves at once.
  rig.client->testRelay();
  EXPECT_EQ(rig.lines(), std::vector<std::string>{"PING " + rig.kit().testToken()});
}

TEST(ClientRelayTest, TimeoutTexts) {
  ClientRig rig("");
  rig.start();
  rig.client->testRelay();
  rig.loop.advance(5.0);
  EXPECT_TRUE(rig.tests.empty());
  rig.loop.advance(1.0);
  ASSERT_EQ(rig.tests.size(), 1u);
  EXPECT_FALSE(std::get<0>(rig.tests[0]));
  EXPECT_EQ(std::get<1>(rig.tests[0]), 6000);
  EXPECT_EQ(std::get<2>(rig.tests[0]),
            "No answer from the server. Check that it runs and that UDP port 47800 is open in its firewall.");

  ClientRig lost("");
  lost.sockets.hosts.clear();
  lost.start();
  EXPECT_TRUE(lost.logged("Cannot find server relay.example"));
  EXPECT_EQ(lost.statuses.back(), "Server not found");
  EXPECT_EQ(lost.client->relayAddressText(), "(not resolved)");
  lost.client->testRelay();  // looks the name up again at once
  EXPECT_EQ(lost.sockets.lookups, 2);
  lost.loop.advance(6.0);
  ASSERT_EQ(lost.tests.size(), 1u);
  EXPECT_EQ(std::get<2>(lost.tests[0]), "Cannot find server relay.example");
  // Without the test the name is tried again every 10 s.
  lost.loop.advance(10.0);
  EXPECT_EQ(lost.sockets.lookups, 3);
}

TEST(ClientLifecycle, KeyTextAndStartFailure) {
  std::string key(128, 'a');
  for (auto [text, pinned] : std::vector<std::pair<std::string, bool>>{
           {key, true}, {"  " + key + "\n", true}, {key + "00", false}, {key.substr(1) + "G", false}, {"", false}}) {
    ClientRig rig("", text);
    EXPECT_EQ(bool(rig.client->relayKey()), pinned) << text;
  }

  ClientRig broken;
  broken.sockets.udpFailure = std::errc::address_in_use;
  EXPECT_THROW(broken.client->start(), std::system_error);
  EXPECT_EQ(broken.loop.pendingTimers(), 0u);
  EXPECT_EQ(broken.sockets.lookups, 0);
}

TEST(ClientLifecycle, StopSaysByeAndGoesQuiet) {
  ClientRig rig;
  rig.bringUp();
  rig.client->stop();
  EXPECT_EQ(rig.lines(), std::vector<std::string>{"BYE"});
  EXPECT_FALSE(rig.sockets.udp[0]->alive());
  size_t sent = rig.sentToServer().size();
  rig.loop.advance(100.0);
  EXPECT_EQ(rig.sentToServer().size(), sent);
}

TEST(ClientLifecycle, StopOverTcpClosesTheLinkAfterTheBye) {
  ClientRig rig("80");
  rig.start();
  rig.loop.advance(6.0);
  auto link = rig.sockets.tcp[0];
  link->accept();
  rig.loop.advance(1.0);
  rig.welcome();
  rig.client->stop();
  EXPECT_FALSE(rig.kit().onTcp());
  EXPECT_EQ(rig.lines().back(), "BYE");
  EXPECT_FALSE(link->cancelled);
  rig.loop.advance(0.2);
  EXPECT_TRUE(link->cancelled);
}

TEST(ClientLifecycle, ClientDroppedFromItsOwnCallback) {
  ClientRig rig;
  rig.afterID = [&] { rig.client.reset(); };
  rig.bringUp();
  EXPECT_FALSE(rig.client);
  rig.loop.advance(100.0);  // its timers and sockets are gone with it
  EXPECT_FALSE(rig.sockets.udp[0]->alive());
}

// The client holds its events and its session weakly: once they are gone it
// goes on, telling nobody.
TEST(ClientLifecycle, EventsAndSessionGoneLeaveTheClientQuiet) {
  ClientRig rig;
  auto events = std::make_shared<LinkRecorder>();
  rig.client = PlimoClient::create(rig.loop, rig.sockets, events, ClientRig::kHost, ClientRig::kServerPort, "", "");
  rig.client->attachSession(events);
  events.reset();
  rig.bringUp();
  EXPECT_EQ(rig.client->myID(), "123456789");
  EXPECT_EQ(rig.idCount, 0);
  EXPECT_TRUE(rig.logs.empty());
  rig.loop.advance(100.0);
  EXPECT_TRUE(rig.statuses.empty());
}
