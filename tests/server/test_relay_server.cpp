#include <gtest/gtest.h>

#include "protocol/crypto/PlimoCrypto.h"
#include "server/Registration.h"
#include "server/ServerRig.h"

using namespace plimo;
using namespace plimo::testkit;

namespace {

bool startsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

TEST(RelayServer, WelcomeIsSignedByTheLongTermKeyAndHelloGetsAnIDAndThePorts) {
  ServerRig rig;
  RigClient c(rig, RigClient::udp(40000));
  ASSERT_TRUE(c.handshake());
  EXPECT_EQ(c.codec.serverKey, rig.key.publicKey());

  auto lines = c.say("HELLO 0 192.168.1.20 40000 " + std::string(128, 'a') + " 127.0.0.1 1");
  ASSERT_EQ(lines.size(), 2u);
  ASSERT_TRUE(startsWith(lines[0], "ID "));
  std::string id = lines[0].substr(3, 9);
  EXPECT_TRUE(IdRegistry::isValid(id));
  EXPECT_EQ(lines[0], "ID " + id + " 86400");
  EXPECT_EQ(lines[1], "PORTS 47800 8443,443");
  EXPECT_EQ(rig.server.ids().onlineCount(), 1u);
  EXPECT_TRUE(rig.logged("ID " + id + " online from 127.0.0.1:40000"));

  // Every later HELLO gets the same ID back, and PORTS only once per session.
  EXPECT_EQ(c.say("HELLO " + id), std::vector<std::string>{"ID " + id + " 86400"});
  EXPECT_EQ(c.say("HELLO 123456789"), std::vector<std::string>{"ID " + id + " 86400"});
}

TEST(RelayServer, NamedIDComesBackUnlessOnlineElsewhere) {
  ServerRig rig;
  RigClient a(rig, RigClient::udp(40001));
  std::string id = a.registerAs();
  ASSERT_FALSE(id.empty());

  RigClient b(rig, RigClient::udp(40002));
  std::string other = b.registerAs(id);
  EXPECT_NE(other, id);  // unique among online clients

  a.say("BYE");
  RigClient again(rig, RigClient::udp(40003));
  EXPECT_EQ(again.registerAs(id), id);
  // Text that is no ID gets a fresh one.
  RigClient odd(rig, RigClient::udp(40004));
  std::string fresh = odd.registerAs("01234567x");
  EXPECT_TRUE(IdRegistry::isValid(fresh));
}

TEST(RelayServer, SealedPacketWithoutSessionGetsReset) {
  ServerRig rig;
  RigClient c(rig, RigClient::udp(40000));
  ASSERT_FALSE(c.registerAs().empty());

  // The same client after a server restart: a new server knows no session.
  ServerRig restarted;
  restarted.server.receive(c.endpoint, c.codec.seal("HELLO 0"));
  ASSERT_EQ(restarted.sink.sent.size(), 1u);
  EXPECT_EQ(restarted.sink.sent[0].packet, Bytes{0x13});

  // A known session whose packet does not open gets nothing (it may be a
  // forgery in the client's name).
  size_t before = rig.sink.sent.size();
  Bytes forged = c.codec.seal("PING x");
  forged[12] ^= 1;
  rig.server.receive(c.endpoint, forged);
  EXPECT_EQ(rig.sink.sent.size(), before);
  EXPECT_EQ(c.say("PING t").size(), 1u);
}

TEST(RelayServer, GarbageIsIgnored) {
  ServerRig rig;
  RigClient c(rig, RigClient::udp(40000));
  std::string id = c.registerAs();
  Endpoint stranger = RigClient::udp(50000);
  size_t before = rig.sink.sent.size();

  Bytes handshake = c.codec.handshake();
  Bytes shortHandshake(handshake.begin(), handshake.end() - 1);
  Bytes longHandshake = handshake;
  longHandshake.push_back(0);
  Bytes version2 = handshake;
  version2[1] = 2;
  Bytes offCurve = handshake;
  std::fill(offCurve.begin() + 2, offCurve.begin() + 66, 0);
  for (const Bytes& packet : {Bytes{}, Bytes{0x10}, shortHandshake, longHandshake, version2, offCurve,
                              Bytes{0x14}, Bytes{0x14, 1, 2, 3}, Bytes{0x11, 1}, Bytes{0x13}, Bytes{0xFF},
                              Bytes(65535, 0x14), Bytes(65535, 0x10), Bytes(70000, 0xAB)}) {
    rig.server.receive(stranger, packet);
    rig.server.receive(c.endpoint, packet);
  }
  EXPECT_EQ(rig.sink.sent.size(), before);
  EXPECT_EQ(rig.server.stats().welcomes, 1u);

  // Sealed lines of every shape from a real session.
  c.received();
  for (const char* line : {"", " ", "HELLO", "PIN", "PIN 1", "PIN 123456789", "UNPIN x y", "PING", "XYZZY 1 2",
                           "hello 0", "PIN 123456789 " "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
                           "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
                           "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
                           "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"}) {
    c.say(line);
  }
  c.say(std::string(60000, 'Z'));
  c.say(std::string("HELLO \xff\xfe\x00 1", 11));
  // Still the same session and ID.
  EXPECT_EQ(c.say("HELLO 0"), std::vector<std::string>{"ID " + id + " 86400"});
}

TEST(RelayServer, HandshakesAreRateLimitedPerSourceAddress) {
  RelayConfig config = testConfig();
  config.handshakeRate = 5;  // burst of 10
  ServerRig rig(config);
  ClientCodec codec;
  for (int i = 0; i < 12; ++i) rig.server.receive(RigClient::udp(uint16_t(41000 + i)), codec.handshake());
  EXPECT_EQ(rig.server.stats().welcomes, 10u);
  EXPECT_EQ(rig.server.stats().rateLimited, 2u);

  // Another address is not held back.
  rig.server.receive(RigClient::udp(41000, 0x0A000001), codec.handshake());
  EXPECT_EQ(rig.server.stats().welcomes, 11u);

  // The bucket refills at the rate.
  rig.loop.advance(1.0);
  for (int i = 0; i < 6; ++i) rig.server.receive(RigClient::udp(uint16_t(42000 + i)), codec.handshake());
  EXPECT_EQ(rig.server.stats().welcomes, 16u);
}

TEST(RelayServer, SixtyFiveSecondsOfSilenceEndTheSession) {
  ServerRig rig;
  RigClient c(rig, RigClient::udp(40000));
  std::string id = c.registerAs();
  rig.loop.advance(64);
  ASSERT_EQ(c.say("HELLO " + id).size(), 1u);  // still there; activity restarts the clock
  rig.loop.advance(64);
  EXPECT_EQ(rig.server.ids().holder(id), rig.server.sessions().find(c.endpoint)->serial);
  rig.loop.advance(2);
  EXPECT_EQ(rig.server.sessions().find(c.endpoint), nullptr);
  EXPECT_EQ(rig.server.ids().holder(id), 0u);
  EXPECT_TRUE(rig.logged("ID " + id + " offline: silent for 65 s"));
  // The client is now a stranger.
  c.received();
  rig.server.receive(c.endpoint, c.codec.seal("HELLO " + id));
  EXPECT_EQ(c.received(), std::vector<Bytes>{Bytes{0x13}});
}

TEST(RelayServer, UnansweredWelcomesExpireAndNeverEvictClients) {
  RelayConfig config = testConfig();
  config.maxSessions = 2;
  config.maxUnconfirmed = 50;
  config.maxSessionsPerAddress = 200;
  ServerRig rig(config);
  RigClient a(rig, RigClient::udp(40001));
  RigClient b(rig, RigClient::udp(40002));
  std::string idA = a.registerAs();
  std::string idB = b.registerAs();

  // A flood of handshakes from many ports fills only the unconfirmed list.
  ClientCodec flood;
  for (int i = 0; i < 120; ++i) rig.server.receive(RigClient::udp(uint16_t(10000 + i), 0x0A000002), flood.handshake());
  EXPECT_EQ(rig.server.stats().welcomes, 122u);
  EXPECT_EQ(rig.server.sessions().confirmedCount(), 2u);
  EXPECT_NE(rig.server.sessions().find(a.endpoint), nullptr);
  EXPECT_EQ(rig.server.sessions().size(), 52u);
  rig.loop.advance(11);
  // The unconfirmed ones are gone; a and b, silent for 11 s only, stay.
  EXPECT_EQ(rig.server.sessions().size(), 2u);
}

TEST(RelayServer, FullTableEvictsTheIdlestClient) {
  RelayConfig config = testConfig();
  config.maxSessions = 2;
  config.maxSessionsPerAddress = 3;
  ServerRig rig(config);
  RigClient a(rig, RigClient::udp(40001));
  RigClient b(rig, RigClient::udp(40002));
  RigClient c(rig, RigClient::udp(40003));
  std::string idA = a.registerAs();
  rig.loop.advance(1);
  std::string idB = b.registerAs();
  rig.loop.advance(1);
  a.say("HELLO " + idA);  // b is now the idlest
  rig.loop.advance(1);
  std::string idC = c.registerAs();
  EXPECT_EQ(rig.server.sessions().find(b.endpoint), nullptr);
  EXPECT_NE(rig.server.sessions().find(a.endpoint), nullptr);
  EXPECT_EQ(rig.server.ids().holder(idB), 0u);
  EXPECT_EQ(rig.server.stats().evicted, 1u);
  EXPECT_TRUE(rig.logged("ID " + idB + " offline: evicted"));
}

TEST(RelayServer, NewHandshakeSwapsKeysOnlyWhenTheClientUsesThem) {
  ServerRig rig;
  RigClient c(rig, RigClient::udp(40000));
  std::string id = c.registerAs();

  // A handshake in the client's name whose welcome the client never sees.
  ClientCodec forger;
  rig.server.receive(c.endpoint, forger.handshake());
  c.received();
  EXPECT_EQ(c.say("HELLO " + id), std::vector<std::string>{"ID " + id + " 86400"});

  // The client itself re-handshakes from the same address: same session, same ID.
  ASSERT_TRUE(c.handshake());
  EXPECT_EQ(c.say("HELLO " + id), std::vector<std::string>{"ID " + id + " 86400"});
  EXPECT_EQ(rig.server.ids().onlineCount(), 1u);
}

TEST(RelayServer, AnotherClientAtTheSameAddressGetsNothingOfTheEarlierOne) {
  ServerRig rig;
  RigClient c(rig, RigClient::udp(40000));
  std::string id = c.registerAs();
  c.say("PIN " + id + " secret");
  // A NAT hands the address to another PC, which starts from scratch.
  RigClient stranger(rig, c.endpoint);
  stranger.seen = rig.sink.sent.size();
  std::string other = stranger.registerAs();
  EXPECT_NE(other, id);
  EXPECT_EQ(rig.server.ids().holder(id), 0u);
  EXPECT_TRUE(rig.logged("ID " + id + " offline: another client at its address"));
  EXPECT_EQ(stranger.say("HELLO " + other), std::vector<std::string>{"ID " + other + " 86400"});
}

TEST(RelayServer, PinKeepsAnIDForItsSecretOnly) {
  ServerRig rig;
  RigClient a(rig, RigClient::udp(40001));
  std::string id = a.registerAs();
  std::string secret(64, 'C');
  EXPECT_EQ(a.say("PIN " + id + " " + secret), (std::vector<std::string>{"PIN OK " + id, "ID " + id + " pinned"}));
  auto stored = rig.store->pinHash(id).valueOr(std::nullopt);
  ASSERT_TRUE(stored);
  EXPECT_EQ(*stored, Registration::secretHash(secret));
  EXPECT_NE(*stored, toBytes(secret));
  EXPECT_EQ(a.say("HELLO " + id), std::vector<std::string>{"ID " + id + " pinned"});

  // Another PC with another secret cannot take it, online or not.
  RigClient b(rig, RigClient::udp(40002));
  std::string idB = b.registerAs();
  EXPECT_EQ(b.say("PIN " + id + " " + std::string(64, 'D')), std::vector<std::string>{"ERR PIN TAKEN"});
  a.say("BYE");
  EXPECT_EQ(b.say("PIN " + id + " " + std::string(64, 'D')), std::vector<std::string>{"ERR PIN TAKEN"});
  // Naming a kept ID in HELLO proves nothing: a fresh ID instead.
  RigClient c(rig, RigClient::udp(40003));
  std::string idC = c.registerAs(id);
  EXPECT_NE(idC, id);
  // The secret does: the ID moves to this session.
  EXPECT_EQ(c.say("PIN " + id + " " + secret), (std::vector<std::string>{"PIN OK " + id, "ID " + id + " pinned"}));
  EXPECT_EQ(rig.server.ids().holder(idC), 0u);
  EXPECT_EQ(rig.server.ids().holder(id), rig.server.sessions().find(c.endpoint)->serial);

  // UNPIN forgets the secret; the ID stays for the session, leased.
  EXPECT_EQ(c.say("UNPIN"), std::vector<std::string>{"ID " + id + " 86400"});
  EXPECT_FALSE(*rig.store->pinHash(id));
}

TEST(RelayServer, PinBeforeHelloOrMalformedIsRefused) {
  ServerRig rig;
  RigClient a(rig, RigClient::udp(40001));
  ASSERT_TRUE(a.handshake());
  EXPECT_EQ(a.say("PIN 123456789 abc"), std::vector<std::string>{"ERR PIN NOT_READY"});
  std::string id = a.registerAs();
  EXPECT_EQ(a.say("PIN 12345678 abc"), std::vector<std::string>{"ERR PIN BAD_REQUEST"});
  EXPECT_EQ(a.say("PIN " + id), std::vector<std::string>{"ERR PIN BAD_REQUEST"});
  EXPECT_EQ(a.say("PIN " + id + " " + std::string(300, 'a')), std::vector<std::string>{"ERR PIN BAD_REQUEST"});
  // An ID online without a pin belongs to its PC.
  RigClient b(rig, RigClient::udp(40002));
  b.registerAs();
  EXPECT_EQ(b.say("PIN " + id + " secret"), std::vector<std::string>{"ERR PIN TAKEN"});
}

TEST(RelayServer, PinTakesTheIDFromASilentEarlierSessionOfTheSamePC) {
  ServerRig rig;
  RigClient old(rig, RigClient::udp(40001));
  std::string id = old.registerAs();
  old.say("PIN " + id + " s3cret");

  // The PC restarts without saying BYE: its old session still holds the ID.
  RigClient fresh(rig, RigClient::udp(40002));
  std::string temp = fresh.registerAs();
  EXPECT_EQ(fresh.say("PIN " + id + " s3cret"), std::vector<std::string>{"ERR PIN NOT_READY"});
  rig.loop.advance(Registration::kTakeoverSilence + 1);
  EXPECT_EQ(fresh.say("PIN " + id + " s3cret"), (std::vector<std::string>{"PIN OK " + id, "ID " + id + " pinned"}));
  // The old session, should it live, learns of a new ID of its own.
  auto oldLines = old.lines();
  ASSERT_EQ(oldLines.size(), 1u);
  EXPECT_TRUE(startsWith(oldLines[0], "ID "));
  EXPECT_NE(oldLines[0].substr(3, 9), id);
  EXPECT_EQ(rig.server.ids().onlineCount(), 2u);
}

TEST(RelayServer, PingAnswersWithVersionOnlineCountAndUptime) {
  ServerRig rig;
  RigClient a(rig, RigClient::udp(40001));
  RigClient b(rig, RigClient::udp(40002));
  a.registerAs();
  b.registerAs();
  for (int i = 0; i < 149; ++i) {  // 1h2m5s, both saying HELLO every 25 s
    rig.loop.advance(25);
    a.say("HELLO 0");
    b.say("HELLO 0");
  }
  EXPECT_EQ(b.say("PING 0A1B2C3D"), std::vector<std::string>{"PONG 0A1B2C3D " PLIMO_TEST_VERSION " 2 1h2m"});
  a.say("BYE");
  EXPECT_EQ(b.say("PING x"), std::vector<std::string>{"PONG x " PLIMO_TEST_VERSION " 1 1h2m"});
  EXPECT_EQ(b.say("PING"), std::vector<std::string>{});
  EXPECT_EQ(Registration::uptimeText(59), "59s");
  EXPECT_EQ(Registration::uptimeText(61), "1m");
  EXPECT_EQ(Registration::uptimeText(2 * 86400 + 3 * 3600 + 5), "2d3h");
}

TEST(RelayServer, ByeAndClosedConnectionsEndSessions) {
  ServerRig rig;
  RigClient a(rig, RigClient::udp(40001));
  std::string id = a.registerAs();
  EXPECT_TRUE(a.say("BYE").empty());
  EXPECT_EQ(rig.server.ids().holder(id), 0u);
  EXPECT_TRUE(rig.logged("ID " + id + " offline: said goodbye"));

  // Over TCP the connection is its own endpoint; BYE closes it.
  RigClient t(rig, Endpoint::tcp(0x7F000001, 51000, 7));
  std::string idT = t.registerAs();
  ASSERT_FALSE(idT.empty());
  t.say("BYE");
  ASSERT_EQ(rig.sink.closed.size(), 1u);
  EXPECT_EQ(rig.sink.closed[0], t.endpoint);

  // A connection the client closed ends its session without a close back.
  RigClient u(rig, Endpoint::tcp(0x7F000001, 51001, 8));
  std::string idU = u.registerAs();
  rig.server.connectionClosed(u.endpoint);
  EXPECT_EQ(rig.server.ids().holder(idU), 0u);
  EXPECT_EQ(rig.sink.closed.size(), 1u);
}
