// Real PlimoClients against the real RelayServer, on virtual time.

#include <gtest/gtest.h>

#include "core/PlimoID.h"
#include "server/InProcessNet.h"

using namespace plimo;
using namespace plimo::testkit;

namespace {

using State = PlimoClient::State;

bool registered(const InProcessNet::Pc& pc) { return pc.client->myID() != "0" && pc.client->serverUp(); }

// Starts the PC, waits for its ID and keeps it with `secret`; the ID.
std::string registerAndKeep(InProcessNet& net, InProcessNet::Pc& pc, const std::string& secret) {
  pc.client->start();
  if (!net.runUntil([&] { return registered(pc); }, 5)) return {};
  pc.client->setPin("", secret);
  pc.client->sendPin();
  if (!net.runUntil([&] { return pc.client->idPinned(); }, 2)) return {};
  return pc.client->myID();
}

}  // namespace

TEST(ClientsInProcess, ClientRegistersAndPinsTheServerKey) {
  InProcessNet net;
  auto& pc = net.addPc();
  pc.client->start();
  ASSERT_TRUE(net.runUntil([&] { return registered(pc); }, 5));
  EXPECT_TRUE(IdRegistry::isValid(pc.client->myID()));
  EXPECT_TRUE(pc.logged("My ID is " + formatPlimoID(pc.client->myID())));
  ASSERT_EQ(pc.pinnedKeys.size(), 1u);
  EXPECT_EQ(pc.pinnedKeys[0], PlimoCrypto::hex(net.key.publicKey()));
  EXPECT_EQ(pc.client->transport(), "UDP 47800");
  ASSERT_TRUE(pc.kit().idExpires());
  EXPECT_NEAR(*pc.kit().idExpires() - net.loop.now(), 86400, 2);

  // The relay test answers with the server's figures.
  pc.client->testRelay();
  ASSERT_TRUE(net.runUntil([&] { return !pc.tests.empty(); }, 2));
  auto [ok, milliseconds, result] = pc.tests[0];
  EXPECT_TRUE(ok);
  EXPECT_EQ(result.rfind("server ", 0), 0u) << result;
  EXPECT_NE(result.find(", 1 online, up "), std::string::npos) << result;

  // HELLO every 20 s keeps the session: still registered after five minutes.
  std::string id = pc.client->myID();
  net.loop.advance(300);
  EXPECT_EQ(net.server.ids().holder(id), net.server.sessions().find(Endpoint::udp(0x0A000001, 40000))->serial);
  EXPECT_FALSE(pc.logged("Lost contact"));
}

TEST(ClientsInProcess, AnotherServerKeyFreezesTheClient) {
  InProcessNet net;
  auto& pc = net.addPc(PlimoCrypto::hex(SigningKey::generate().publicKey()));
  pc.client->start();
  ASSERT_TRUE(net.runUntil([&] { return pc.client->relayBlocked(); }, 5));
  EXPECT_TRUE(pc.logged("SECURITY: the server identified itself with key " +
                        PlimoCrypto::keyFingerprint(net.key.publicKey())));
  EXPECT_EQ(pc.statuses.back(), "Server key mismatch");
  size_t sent = net.sentToServer(pc);
  net.loop.advance(60);
  EXPECT_EQ(net.sentToServer(pc), sent);
  EXPECT_EQ(net.server.ids().onlineCount(), 0u);
}

TEST(ClientsInProcess, KeptIDComesBackAfterARestartAndNoOtherPCGetsIt) {
  InProcessNet net;
  auto& pc = net.addPc();
  std::string secret = PlimoCrypto::hex(PlimoCrypto::randomBytes(32));
  std::string id = registerAndKeep(net, pc, secret);
  ASSERT_FALSE(id.empty());
  ASSERT_EQ(pc.pins.size(), 1u);
  EXPECT_EQ(pc.pins[0], std::make_pair(true, id));

  // Restart with the stored secret: the same ID again.
  std::string key = PlimoCrypto::hex(net.key.publicKey());
  net.restart(pc, key);
  pc.client->setPin(id, secret);
  pc.client->start();
  ASSERT_TRUE(net.runUntil([&] { return pc.client->myID() == id && pc.client->idPinned(); }, 5));

  // Another PC asking for that ID with its own secret is refused.
  auto& other = net.addPc(key);
  other.client->setPin(id, std::string(64, '7'));
  other.client->start();
  ASSERT_TRUE(net.runUntil([&] { return !other.pins.empty(); }, 5));
  EXPECT_FALSE(other.pins[0].first);
  EXPECT_EQ(other.pins[0].second, "That ID is kept by another PC; this PC keeps its own ID instead.");
  EXPECT_NE(other.client->myID(), id);
  EXPECT_EQ(pc.client->myID(), id);
}

TEST(ClientsInProcess, RestartWithoutGoodbyeGetsTheKeptIDOnceTheOldSessionIsSilent) {
  InProcessNet net;
  auto& pc = net.addPc();
  std::string id = registerAndKeep(net, pc, "abc");
  ASSERT_FALSE(id.empty());
  net.restart(pc, PlimoCrypto::hex(net.key.publicKey()), false);  // a crash: no BYE
  pc.client->setPin(id, "abc");
  pc.client->start();
  ASSERT_TRUE(net.runUntil([&] { return pc.client->myID() == id && pc.client->idPinned(); }, 60));
}

TEST(ClientsInProcess, RegistersOverTcpWhenUdpIsBlocked) {
  InProcessNet net({443});  // 8443 refuses
  auto& pc = net.addPc();
  pc.udpToServerBlocked = true;
  pc.client->start();
  ASSERT_TRUE(net.runUntil([&] { return registered(pc); }, 20));
  EXPECT_EQ(pc.client->transport(), "TCP 443");
  EXPECT_TRUE(pc.logged("No answer from the server on UDP 47800; trying TCP 8443 instead"));
  EXPECT_TRUE(pc.logged("trying TCP 443 instead"));
  EXPECT_TRUE(pc.logged("over TCP 443"));
  // The server's own list replaced the client's.
  EXPECT_EQ(pc.kit().tcpPorts(), std::vector<uint16_t>{443});
}
namespace {

struct Partners {
  InProcessNet net;
  InProcessNet::Pc& viewer;
  InProcessNet::Pc& host;
  explicit Partners(bool hostOnTcp = false)
      : net({8443}), viewer(net.addPc()), host(net.addPc()) {
    host.udpToServerBlocked = hostOnTcp;
    viewer.client->start();
    host.client->start();
    EXPECT_TRUE(net.runUntil([&] { return registered(viewer) && registered(host); }, 20));
  }
  bool connect() {
    viewer.client->connect(host.client->myID());
    return net.runUntil([&] { return viewer.connects && host.connects; }, 15);
  }
  void exchange() {
    viewer.client->sendData(Bytes{0x81, 1, 2});
    host.client->sendData(Bytes{0x82, 3});
    net.loop.advance(0.1);
  }
};

}  // namespace

TEST(ClientsInProcess, PartnersConnectDirectlyAndTheSessionIsRecordedOnce) {
  Partners p;
  ASSERT_TRUE(p.connect());
  EXPECT_FALSE(p.viewer.client->viaRelay());
  EXPECT_EQ(p.viewer.client->checkNumber(), p.host.client->checkNumber());
  // Whole fingerprints, each side's own key the other's partner key.
  const auto& viewerKeys = p.viewer.client->keyFingerprints();
  const auto& hostKeys = p.host.client->keyFingerprints();
  EXPECT_EQ(viewerKeys.own.size(), 16 * 4 + 15u) << viewerKeys.own;
  EXPECT_NE(viewerKeys.own, viewerKeys.partner);
  EXPECT_EQ(viewerKeys.own, hostKeys.partner);
  EXPECT_EQ(viewerKeys.partner, hostKeys.own);
  p.exchange();
  EXPECT_EQ(p.host.data, std::vector<Bytes>{Bytes({0x81, 1, 2})});
  EXPECT_EQ(p.viewer.data, std::vector<Bytes>{Bytes({0x82, 3})});
  ASSERT_EQ(p.net.store().usageCount(), 1);
  auto u = p.net.store().usage(1);
  EXPECT_EQ(u->viewerID, p.viewer.client->myID());
  EXPECT_EQ(u->hostID, p.host.client->myID());

  p.net.loop.advance(30);
  p.viewer.client->disconnect();
  p.net.loop.advance(1);
  EXPECT_EQ(p.host.disconnects, 1);
  EXPECT_EQ(p.viewer.client->keyFingerprints().own, "");
  EXPECT_EQ(p.net.store().usageCount(), 1);
  ASSERT_TRUE(p.net.store().usage(1)->seconds);
  EXPECT_NEAR(double(*p.net.store().usage(1)->seconds), 30, 1);
}

TEST(ClientsInProcess, WithoutADirectPathTheServerRelays) {
  Partners p;
  p.host.directBlocked = true;
  ASSERT_TRUE(p.connect());
  EXPECT_TRUE(p.viewer.client->viaRelay());
  EXPECT_TRUE(p.host.client->viaRelay());
  p.exchange();
  EXPECT_EQ(p.host.data.size(), 1u);
  EXPECT_EQ(p.viewer.data.size(), 1u);
  EXPECT_GT(p.net.server.stats().relayed, 0u);
}

TEST(ClientsInProcess, APartnerOnTcpIsRelayedOverItsConnection) {
  Partners p(true);
  EXPECT_EQ(p.host.client->transport(), "TCP 8443");
  ASSERT_TRUE(p.connect());
  EXPECT_TRUE(p.viewer.client->viaRelay());
  EXPECT_TRUE(p.host.client->viaRelay());
  p.exchange();
  EXPECT_EQ(p.host.data.size(), 1u);
  EXPECT_EQ(p.viewer.data.size(), 1u);
}

TEST(ClientsInProcess, UnknownIDAndOwnIDAreRefused) {
  Partners p;
  p.viewer.client->connect("111222333");
  p.net.loop.advance(1);
  p.viewer.client->connect(p.viewer.client->myID());
  p.net.loop.advance(1);
  ASSERT_EQ(p.viewer.failures.size(), 2u);
  EXPECT_EQ(p.viewer.failures[0], "That ID is not online.");
  EXPECT_EQ(p.viewer.failures[1], "That is your own ID.");
}

TEST(ClientsInProcess, ServerSessionRebuiltDuringAPartnerSessionKeepsOneRecord) {
  Partners p;
  ASSERT_TRUE(p.connect());
  // The viewer's UDP to the server fails for 70 s; the direct path carries on.
  p.viewer.udpToServerBlocked = true;
  for (int i = 0; i < 70; ++i) {
    p.exchange();
    p.net.loop.advance(0.9);
  }
  p.viewer.udpToServerBlocked = false;
  ASSERT_TRUE(
      p.net.runUntil([&] { return p.viewer.logged("Secure connection to the server") && p.viewer.client->serverUp(); }, 10));
  p.net.loop.advance(2);
  EXPECT_EQ(p.viewer.client->state(), State::connected);
  EXPECT_EQ(p.host.client->state(), State::connected);
  EXPECT_EQ(p.net.store().usageCount(), 1);
  p.viewer.client->disconnect();
  p.net.loop.advance(1);
  EXPECT_EQ(p.net.store().usageCount(), 1);
  EXPECT_NEAR(double(*p.net.store().usage(1)->seconds), 75, 3);
}
