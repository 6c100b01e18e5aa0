// The server link's fresh start, handshake and key pinning, with the test as
// the server.
#include <gtest/gtest.h>

#include "protocol/crypto/PlimoCrypto.h"
#include "testkit/ClientRig.h"

using namespace plimo;
using namespace plimo::testkit;

namespace {

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> words;
  size_t from = 0;
  for (;;) {
    size_t space = line.find(' ', from);
    words.push_back(line.substr(from, space == std::string::npos ? space : space - from));
    if (space == std::string::npos) return words;
    from = space + 1;
  }
}

// A welcome answering `handshake`, built by hand so that any field can be wrong.
Bytes handWelcome(ByteView handshake, const SigningKey& signer, ByteView eph) {
  Bytes transcript =
      PlimoCrypto::relayTranscript(handshake.subspan(2, 64), handshake.subspan(66, 16), eph, signer.publicKey());
  Bytes packet{0x11, 0x01};
  append(packet, eph);
  append(packet, signer.publicKey());
  append(packet, signer.sign(transcript));
  return packet;
}

}  // namespace

TEST(ClientHandshake, FreshStartOnTheWire) {
  ClientRig rig("");  // no TCP ports: UDP handshakes go on and on
  double t0 = rig.loop.now();
  rig.start();
  EXPECT_TRUE(rig.logged("No server key in Plimo.ini yet; the first key the server shows will be pinned."));
  EXPECT_TRUE(rig.logged("Socket open on 192.168.1.20:40000, server relay.example (203.0.113.5:47800)"));

  // Unanswered: a handshake at once, then every 2 s, each with a new key and random.
  std::vector<double> times;
  size_t seen = 0;
  for (int i = 0; i < 9; ++i) {
    if (rig.handshakes().size() > seen) {
      seen = rig.handshakes().size();
      times.push_back(rig.loop.now() - t0);
    }
    rig.loop.advance(1.0);
  }
  EXPECT_EQ(times, (std::vector<double>{0, 2, 4, 6, 8}));
  auto all = rig.handshakes();
  for (size_t i = 1; i < all.size(); ++i) {
    EXPECT_NE(bytes(all[i], 2, 64), bytes(all[i - 1], 2, 64));
    EXPECT_NE(bytes(all[i], 66, 16), bytes(all[i - 1], 66, 16));
  }
  EXPECT_EQ(rig.sentToServer().size(), all.size());  // nothing but handshakes yet

  rig.welcome();
  ASSERT_TRUE(rig.client->serverUp());
  std::string fingerprint = PlimoCrypto::keyFingerprint(rig.relay.longTerm.publicKey());
  EXPECT_TRUE(rig.logged("Secure connection to the server (AES-256-GCM) over UDP 47800, server key " + fingerprint));
  EXPECT_EQ(rig.statuses.back(), "Secure connection to server");

  // The sealed HELLO, with exactly its fields.
  auto lines = rig.lines();
  ASSERT_EQ(lines.size(), 1u);
  auto words = split(lines[0]);
  ASSERT_EQ(words.size(), 7u) << lines[0];
  EXPECT_EQ(words[0], "HELLO");
  EXPECT_EQ(words[1], "0");
  EXPECT_EQ(words[2], "192.168.1.20");
  EXPECT_EQ(words[3], "40000");
  EXPECT_EQ(words[4], PlimoCrypto::hex(rig.kit().peerKey().publicKey()));
  EXPECT_EQ(words[4].size(), 128u);
  EXPECT_EQ(words[5], "203.0.113.5");
  EXPECT_EQ(words[6], "0");

  rig.sendLine("ID 123456789");
  EXPECT_EQ(rig.idCount, 1);
  EXPECT_EQ(rig.client->myID(), "123456789");
  EXPECT_EQ(rig.client->state(), PlimoClient::State::registered);
  EXPECT_TRUE(rig.logged("My ID is 123 456 789"));

  // Keep-alive: HELLO every 20 s, answered by the same ID, which fires nothing.
  for (int i = 0; i < 2; ++i) {
    rig.loop.advance(20.0);
    lines = rig.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].starts_with("HELLO 123456789 192.168.1.20 40000 ")) << lines[0];
    rig.sendLine("ID 123456789");
  }
  EXPECT_EQ(rig.idCount, 1);
  EXPECT_EQ(rig.handshakes().size(), all.size());  // no handshake while the session lives
}

TEST(ClientHandshake, FirstWelcomePinsTheKeyOnce) {
  ClientRig rig;
  rig.bringUp();
  std::string keyHex = PlimoCrypto::hex(rig.relay.longTerm.publicKey());
  ASSERT_EQ(rig.pinnedKeys, std::vector<std::string>{keyHex});
  std::string fingerprint = PlimoCrypto::keyFingerprint(rig.relay.longTerm.publicKey());
  EXPECT_TRUE(rig.logged("Server key pinned. Compare " + fingerprint + " with the key shown on the server."));

  // A second session with the same server pins nothing.
  rig.deliver(Bytes{0x13});
  rig.loop.advance(1.0);
  rig.logs.clear();
  rig.welcome();
  EXPECT_TRUE(rig.client->serverUp());
  EXPECT_EQ(rig.pinnedKeys.size(), 1u);
  for (auto& line : rig.logs) EXPECT_FALSE(line.starts_with("Server key pinned")) << line;
}

TEST(ClientHandshake, ConfiguredKeyIsPinnedAndOtherKeyFreezesTheLink) {
  SigningKey other = SigningKey::generate();
  ClientRig rig("8443,443,80", PlimoCrypto::hex(other.publicKey()));
  rig.start();
  EXPECT_FALSE(rig.logged("No server key in Plimo.ini yet; the first key the server shows will be pinned."));
  rig.client->testRelay();
  size_t before = rig.sentToServer().size();

  rig.welcome();  // signed by the server's real key, not the pinned one
  EXPECT_TRUE(rig.client->relayBlocked());
  EXPECT_FALSE(rig.client->serverUp());
  EXPECT_TRUE(rig.pinnedKeys.empty());
  EXPECT_TRUE(rig.logged("SECURITY: the server identified itself with key " +
                         PlimoCrypto::keyFingerprint(rig.relay.longTerm.publicKey()) +
                         ", but Plimo.ini expects " + PlimoCrypto::keyFingerprint(other.publicKey()) +
                         ". Not connecting. If the server was reinstalled, put its new key in Plimo.ini."));
  EXPECT_EQ(rig.statuses.back(), "Server key mismatch");
  ASSERT_EQ(rig.tests.size(), 1u);
  EXPECT_FALSE(std::get<0>(rig.tests[0]));
  EXPECT_EQ(std::get<2>(rig.tests[0]), "Server key does not match Plimo.ini");

  // Not one more packet, however long the link runs, and the test fails at once.
  rig.loop.advance(300.0);
  rig.client->sendPin();
  rig.client->testRelay();
  rig.loop.advance(10.0);
  EXPECT_EQ(rig.sentToServer().size(), before);
  EXPECT_TRUE(rig.sockets.tcp.empty());
  ASSERT_EQ(rig.tests.size(), 2u);
  EXPECT_EQ(std::get<2>(rig.tests[1]), "Server key does not match Plimo.ini");
}

TEST(ClientHandshake, LaterSessionWithAnotherKeyFreezes) {
  ClientRig rig;
  rig.bringUp();
  rig.deliver(Bytes{0x13});
  EXPECT_TRUE(rig.logged("The server asked for a new secure session"));
  rig.loop.advance(1.0);
  SigningKey impostor = SigningKey::generate();
  rig.deliver(rig.relay.welcome(rig.handshakes().back(), &impostor));
  EXPECT_TRUE(rig.client->relayBlocked());
  EXPECT_EQ(rig.statuses.back(), "Server key mismatch");
  size_t before = rig.sentToServer().size();
  rig.loop.advance(200.0);
  EXPECT_EQ(rig.sentToServer().size(), before);
  EXPECT_EQ(rig.client->myID(), "123456789");  // kept; only the link froze
}

// Regression: a welcome that is not signed over this handshake carries no
// proof of anything, so its key must not freeze the link.
TEST(ClientHandshake, UnsignedWelcomeWithAnotherKeyDoesNotFreeze) {
  ClientRig rig("", PlimoCrypto::hex(SigningKey::generate().publicKey()));
  rig.start();
  Bytes forged = rig.relay.welcome(rig.handshakes().back());
  forged[150] ^= 0x01;  // inside the signature
  rig.deliver(forged);
  EXPECT_FALSE(rig.client->relayBlocked());
  rig.loop.advance(2.0);
  EXPECT_EQ(rig.handshakes().size(), 2u);
}

TEST(ClientHandshake, StaleMalformedAndOtherVersionWelcomesAreIgnored) {
  ClientRig rig("");
  rig.start();
  Bytes first = rig.handshakes().back();
  rig.loop.advance(2.0);
  Bytes second = rig.handshakes().back();
  ASSERT_NE(first, second);

  Bytes stale = rig.relay.welcome(first);  // answers the older handshake
  rig.deliver(stale);
  EXPECT_FALSE(rig.client->serverUp());

  Bytes good = rig.relay.welcome(second);
  Bytes shortOne(good.begin(), good.end() - 1);
  Bytes longOne = good;
  longOne.push_back(0);
  Bytes version2 = good;
  version2[1] = 2;
  for (auto& bad : {shortOne, longOne, version2}) rig.deliver(bad);
  EXPECT_FALSE(rig.client->serverUp());
  EXPECT_FALSE(rig.client->relayBlocked());

  // Retries go on, and the answer to the newest handshake is taken.
  rig.loop.advance(2.0);
  ASSERT_EQ(rig.handshakes().size(), 3u);
  rig.welcome();
  EXPECT_TRUE(rig.client->serverUp());
  // A duplicate or late welcome changes nothing.
  auto session = rig.kit().serverChannel();
  rig.deliver(good);
  EXPECT_EQ(rig.kit().serverChannel(), session);
}

TEST(ClientHandshake, WelcomeWithAnInvalidEphemeralKeyIsABadHandshake) {
  ClientRig rig("");
  rig.start();
  Bytes notAPoint(64, 0x00);
  rig.deliver(handWelcome(rig.handshakes().back(), rig.relay.longTerm, notAPoint));
  EXPECT_TRUE(rig.logged("Bad handshake from the server"));
  EXPECT_FALSE(rig.client->serverUp());
  EXPECT_TRUE(rig.pinnedKeys.empty());
  rig.loop.advance(2.0);
  EXPECT_EQ(rig.handshakes().size(), 2u);
}

TEST(ClientHandshake, ServerSilenceDropsTheSessionAndTheNextTickHandshakes) {
  ClientRig rig;
  rig.bringUp();
  size_t handshakes = rig.handshakes().size();
  double up = rig.loop.now();
  // Sealed packets that do not open are not server activity.
  Bytes junk{0x12};
  junk.resize(60, 0xAB);
  for (int i = 0; i < 6; ++i) {
    rig.loop.advance(10.0);
    rig.deliver(junk);
  }
  rig.loop.advance(4.0);  // 64 s
  EXPECT_TRUE(rig.client->serverUp());
  rig.loop.advance(2.0);  // first tick past 65 s
  EXPECT_FALSE(rig.client->serverUp());
  EXPECT_TRUE(rig.logged("Lost contact with the server, reconnecting..."));
  EXPECT_EQ(rig.statuses.back(), "Reconnecting to server...");
  EXPECT_EQ(rig.handshakes().size(), handshakes);
  rig.loop.advance(1.0);
  EXPECT_EQ(rig.handshakes().size(), handshakes + 1);
  EXPECT_NEAR(rig.loop.now() - up, 67.0, 1e-9);
  // ID and state survive the lost session.
  EXPECT_EQ(rig.client->myID(), "123456789");
  EXPECT_EQ(rig.client->state(), PlimoClient::State::registered);
}

TEST(ClientHandshake, AnsweredLinesKeepTheSessionAlive) {
  ClientRig rig;
  rig.bringUp();
  for (int i = 0; i < 10; ++i) {
    rig.loop.advance(20.0);
    rig.sendLine("ID 123456789");
  }
  EXPECT_TRUE(rig.client->serverUp());
}

TEST(ClientHandshake, ResetPacketDropsTheSessionOnlyWhenThereIsOne) {
  ClientRig rig("");
  rig.start();
  rig.deliver(Bytes{0x13, 0x55});
  EXPECT_FALSE(rig.logged("The server asked for a new secure session"));
  rig.welcome();
  rig.sendLine("ID 123456789");
  size_t handshakes = rig.handshakes().size();
  rig.deliver(Bytes{0x13, 1, 2, 3});
  EXPECT_FALSE(rig.client->serverUp());
  EXPECT_TRUE(rig.logged("The server asked for a new secure session"));
  EXPECT_EQ(rig.statuses.back(), "Reconnecting to server...");
  rig.loop.advance(1.0);  // no 2-s wait after a drop
  EXPECT_EQ(rig.handshakes().size(), handshakes + 1);
}
