// A locked partner link in the server link: control lines, session data,
// takeover, silence, PARTNER GONE, disconnecting, and bad partner packets.
#include <gtest/gtest.h>

#include <random>

#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/link/PlimoClient.h"
#include "testkit/PeerRig.h"

namespace plimo {
namespace {

using testkit::ClientRig;
using testkit::FakePartner;
using testkit::PeerRig;
using State = PlimoClient::State;

size_t countLine(ClientRig& rig, const std::string& line) {
  size_t n = 0;
  for (auto& l : rig.lines()) n += l == line;
  return n;
}

TEST(ClientPeerSession, ControlLinesAndSessionData) {
  PeerRig r;
  r.introduce();
  // Session data while punching authenticates but has no session to go to.
  r.direct(Bytes{0x81, 1}, r.partner.publicAddress);
  r.direct("MSG too early", r.partner.publicAddress);
  EXPECT_TRUE(r.rig.data.empty());
  EXPECT_TRUE(r.rig.messages.empty());
  EXPECT_EQ(r.kit().punchOpened(), 2);
  EXPECT_EQ(r.client().state(), State::punching);

  r.direct("PUNCHACK", r.partner.publicAddress);
  r.direct(Bytes{0x81, 1, 2}, r.partner.publicAddress);
  r.direct(Bytes{0xFF}, r.partner.publicAddress);
  r.direct("MSG Hello from Bob  ", r.partner.publicAddress);
  r.direct("MSG", r.partner.publicAddress);
  r.direct("  PING \r\n", r.partner.publicAddress);
  r.direct("WHATEVER 1 2", r.partner.publicAddress);
  EXPECT_EQ(r.rig.data, (std::vector<Bytes>{{0x81, 1, 2}, {0xFF}}));
  EXPECT_EQ(r.rig.messages, (std::vector<std::string>{"Hello from Bob", ""}));
  EXPECT_EQ(r.client().state(), State::connected);

  // Session data goes to the locked path only, sealed; empty data is not sent.
  r.drain();
  r.client().sendData(Bytes{0x82, 7});
  r.client().sendData(Bytes{});
  r.client().sendPeer("MSG Hello from Alice", r.client().peer());
  auto sent = r.drain();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].to, r.partner.publicAddress);
  EXPECT_EQ(toBytes(sent[0].line), (Bytes{0x82, 7}));
  EXPECT_EQ(sent[1].line, "MSG Hello from Alice");
}

// Session data goes to the session attached last alone, and nowhere once
// that session is gone; the events go on.
TEST(ClientPeerSession, SessionDataGoesToTheAttachedSessionOnly) {
  PeerRig r;
  r.lockDirect();
  auto session = std::make_shared<testkit::LinkRecorder>();
  r.client().attachSession(session);
  r.direct(Bytes{0x81, 1}, r.partner.publicAddress);
  EXPECT_EQ(session->data, (std::vector<Bytes>{{0x81, 1}}));
  EXPECT_TRUE(r.rig.data.empty());

  session.reset();
  r.direct(Bytes{0x81, 2}, r.partner.publicAddress);
  r.direct("MSG still here", r.partner.publicAddress);
  EXPECT_TRUE(r.rig.data.empty());
  EXPECT_EQ(r.rig.messages, (std::vector<std::string>{"still here"}));
  EXPECT_EQ(r.client().state(), State::connected);
}

TEST(ClientPeerSession, NothingIsSentWithoutALockedLink) {
  PeerRig r;
  r.client().sendData(Bytes{0x81});
  r.client().sendPeer("MSG hi", r.partner.publicAddress);
  r.introduce();
  r.drain();
  r.client().sendData(Bytes{0x81});
  EXPECT_TRUE(r.drain().empty());
}

// A connected side takes the partner's packets from any path: the two sides
// may have locked to different ones. Sending stays on the locked path.
TEST(ClientPeerSession, ConnectedSideTakesPartnerPacketsFromAnyPath) {
  PeerRig r;
  r.lockDirect();
  r.viaServer("MSG via the server");
  r.direct("MSG from the LAN", r.partner.lanAddress);
  r.rig.deliver(r.partner.relayed(std::string("\x83\x01", 2)));
  EXPECT_EQ(r.rig.messages, (std::vector<std::string>{"via the server", "from the LAN"}));
  EXPECT_EQ(r.rig.data.size(), 1u);

  // A punch that came through the server is answered there; the lock stays.
  r.drain();
  r.viaServer("PUNCH 987654321");
  auto sent = r.drain();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].to, Address{});
  EXPECT_EQ(sent[0].line, "PUNCHACK");
  EXPECT_EQ(r.client().peer(), r.partner.publicAddress);
  r.client().sendData(Bytes{0x81});
  sent = r.drain();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].to, r.partner.publicAddress);
}

TEST(ClientPeerSession, ByeFromThePartnerEndsTheSession) {
  PeerRig r;
  r.lockDirect();
  r.rig.lines();
  r.drain();
  r.direct("BYE", r.partner.publicAddress);
  EXPECT_EQ(r.client().state(), State::registered);
  EXPECT_EQ(r.rig.disconnects, 1);
  EXPECT_TRUE(r.logged("Partner disconnected"));
  EXPECT_TRUE(r.drain().empty());  // no BYE back
  EXPECT_EQ(countLine(r.rig, "SESSION END"), 1u);
  EXPECT_TRUE(r.client().checkNumber().empty());
}

TEST(ClientPeerSession, DisconnectSealsByeToThePartnerBeforeDroppingTheChannel) {
  PeerRig r;
  r.lockDirect();
  r.rig.lines();
  r.drain();
  r.client().disconnect();
  auto sent = r.drain();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].line, "BYE");
  EXPECT_EQ(sent[0].to, r.partner.publicAddress);
  EXPECT_TRUE(r.logged("Disconnected"));
  EXPECT_EQ(r.rig.disconnects, 1);
  EXPECT_FALSE(r.kit().hasPeerChannel());
  EXPECT_EQ(r.client().state(), State::registered);
  auto lines = r.rig.lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "SESSION END");
  EXPECT_EQ(lines[1].rfind("HELLO ", 0), 0u);
  // The partner and the path stay for display.
  EXPECT_EQ(r.client().partnerID(), "987654321");
  EXPECT_EQ(r.client().peer(), r.partner.publicAddress);

  r.client().disconnect();  // nothing left to end
  EXPECT_EQ(r.rig.disconnects, 1);
}

TEST(ClientPeerSession, DisconnectWhilePunchingCancels) {
  PeerRig r;
  r.introduce();
  r.rig.lines();
  r.drain();
  r.client().disconnect();
  EXPECT_EQ(r.rig.failures, std::vector<std::string>{"Cancelled."});
  EXPECT_TRUE(r.logged("Cancelled."));
  EXPECT_EQ(r.rig.disconnects, 0);
  EXPECT_TRUE(r.drain().empty());
  EXPECT_EQ(countLine(r.rig, "SESSION END"), 0u);
  r.rig.loop.advance(1.0);
  EXPECT_TRUE(r.drain().empty());  // the punch timer is gone
}

TEST(ClientPeerSession, ThirtyFiveSecondsOfSilenceEndTheSession) {
  PeerRig r;
  r.lockDirect();
  // Pings keep it up.
  double last = 0;
  for (int i = 0; i < 6; ++i) {
    r.rig.loop.advance(5.0);
    r.direct("PING", r.partner.publicAddress);
    last = r.rig.loop.now();
  }
  r.rig.lines();
  r.drain();
  r.rig.loop.advance(34.9);
  EXPECT_EQ(r.client().state(), State::connected);
  ASSERT_TRUE(r.rig.loop.runUntil([&] { return r.rig.disconnects == 1; }, 2.0, 0.05));
  EXPECT_GT(r.rig.loop.now() - last, 35.0);
  EXPECT_LE(r.rig.loop.now() - last, 36.0 + 1e-9);
  EXPECT_TRUE(r.logged("The other PC stopped answering; the session has ended."));
  EXPECT_EQ(PeerRig::count(r.drain(), "BYE"), 0u);
  EXPECT_EQ(countLine(r.rig, "SESSION END"), 1u);
}

TEST(ClientPeerSession, PartnerGoneIsIgnoredWithinFiveSecondsOfPartnerTraffic) {
  PeerRig r;
  r.lockDirect();
  r.rig.loop.advance(2.0);
  r.rig.sendLine("PARTNER GONE");
  EXPECT_EQ(r.client().state(), State::connected);
  r.rig.loop.advance(2.9);
  r.rig.sendLine("PARTNER GONE");
  EXPECT_EQ(r.client().state(), State::connected);
  r.rig.loop.advance(0.2);
  r.rig.sendLine("PARTNER GONE");
  EXPECT_EQ(r.client().state(), State::registered);
  EXPECT_EQ(r.rig.disconnects, 1);
  EXPECT_TRUE(r.logged("The other PC went offline; the session has ended."));

  PeerRig p;
  p.introduce();
  p.rig.sendLine("PARTNER GONE");
  EXPECT_EQ(p.client().state(), State::registered);
  EXPECT_EQ(p.rig.failures, std::vector<std::string>{"The other PC went offline."});

  PeerRig idle;
  idle.rig.sendLine("PARTNER GONE");
  EXPECT_EQ(idle.client().state(), State::registered);
  EXPECT_TRUE(idle.rig.failures.empty());
}

TEST(ClientPeerSession, PeerWhileConnectedIsIgnoredUnlessTwelveSecondsSilent) {
  PeerRig r;
  r.lockDirect();
  r.rig.lines();
  Bytes key = r.kit().peerKey().publicKey();
  FakePartner next;
  next.id = "555666777";
  next.publicAddress = {"192.0.2.50", 41000};
  r.rig.loop.advance(11.5);
  r.introduce(next);
  EXPECT_EQ(r.client().partnerID(), "987654321");
  EXPECT_EQ(r.client().state(), State::connected);

  r.rig.loop.advance(1.0);  // 12.5 s silent
  r.introduce(next);
  EXPECT_TRUE(r.logged("The previous partner stopped answering; it makes way for the new one"));
  EXPECT_EQ(r.rig.disconnects, 1);
  EXPECT_EQ(countLine(r.rig, "SESSION END"), 1u);
  auto& c = r.client();
  EXPECT_EQ(c.state(), State::punching);
  EXPECT_EQ(c.partnerID(), "555666777");
  EXPECT_EQ(r.kit().peerKey().publicKey(), key);  // the new partner was given this key
  EXPECT_EQ(c.checkNumber(), PlimoCrypto::checkNumber(key, next.key.publicKey()));
  EXPECT_FALSE(c.initiator());
  // The old partner's packets no longer open; the new one locks.
  r.direct("PUNCHACK", r.partner.publicAddress);
  EXPECT_EQ(c.state(), State::punching);
  r.rig.deliver(next.seal("PUNCHACK"), next.publicAddress);
  EXPECT_EQ(c.state(), State::connected);
  EXPECT_EQ(c.peer(), next.publicAddress);
}

// A takeover keeps this side's key; a PEER that brings back a partner key
// already used with it would give the same session keys, with counters from
// 1 again (AES-GCM nonce reuse): the previous partner's key right away, or
// an earlier one after another takeover.
TEST(ClientPeerSession, ATakeoverRepeatingAKeyAlreadyUsedWithThisKeyIsRefusedSoNoncesNeverRepeat) {
  for (bool viaAnother : {false, true}) {
    SCOPED_TRACE(viaAnother ? "an earlier partner's key" : "the previous partner's key");
    PeerRig r;
    r.lockDirect();
    Bytes key = r.kit().peerKey().publicKey();
    FakePartner next;
    next.id = "555666777";
    next.publicAddress = {"192.0.2.50", 41000};
    if (viaAnother) {
      r.rig.loop.advance(12.5);
      r.introduce(next);
      r.rig.deliver(next.seal("PUNCHACK"), next.publicAddress);
      ASSERT_EQ(r.client().state(), State::connected);
    }
    r.rig.lines();
    r.rig.loop.advance(12.5);
    r.introduce();  // the first partner's key again
    EXPECT_EQ(r.client().state(), State::registered);
    EXPECT_EQ(r.rig.failures, std::vector<std::string>{"The partner sent an invalid key."});
    EXPECT_TRUE(
        r.logged("The partner's key was already used with this PC's key; refused, so that no session keys repeat"));
    // A fresh key, told to the server, with which the same partner is welcome.
    Bytes fresh = r.kit().peerKey().publicKey();
    EXPECT_NE(fresh, key);
    auto lines = r.rig.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find(PlimoCrypto::hex(fresh)), std::string::npos) << lines.back();
    r.introduce();
    EXPECT_EQ(r.client().state(), State::punching);
  }
}

TEST(ClientPeerSession, StopSaysByeToThePartnerAndTheServer) {
  PeerRig r;
  r.lockDirect();
  r.rig.lines();
  r.drain();
  r.client().stop();
  auto sent = r.drain();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].line, "BYE");
  auto lines = r.rig.lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.front(), "SESSION END");
  EXPECT_EQ(lines.back(), "BYE");
  EXPECT_EQ(r.rig.disconnects, 1);
}

// The owner may drop the client from inside any of its events or its session data.
TEST(ClientPeerSession, ClientDroppedFromItsOwnCallbacks) {
  {
    PeerRig r;
    r.rig.afterConnected = [&] { r.rig.client.reset(); };
    r.lockDirect();
    EXPECT_FALSE(r.rig.client);
  }
  {
    PeerRig r;
    r.rig.afterFailed = [&] { r.rig.client.reset(); };
    r.introduce();
    r.rig.loop.advance(11.0);  // gives up from inside the punch timer
    EXPECT_FALSE(r.rig.client);
  }
  {
    PeerRig r;
    r.lockDirect();
    r.rig.afterData = [&] { r.rig.client.reset(); };
    r.direct(Bytes{0x81}, r.partner.publicAddress);
    EXPECT_FALSE(r.rig.client);
    r.rig.loop.advance(40.0);
  }
  {
    PeerRig r;
    r.lockDirect();
    r.rig.afterDisconnected = [&] { r.rig.client.reset(); };
    r.rig.loop.advance(40.0);  // ended by the silence check of the tick
    EXPECT_FALSE(r.rig.client);
  }
}

// Nothing a stranger or the network does to partner packets changes the
// session: garbage, cut packets, replays, and packets under another key.
TEST(ClientPeerSession, BadPartnerPacketsChangeNothing) {
  PeerRig r;
  r.lockDirect();
  r.rig.loop.advance(3.0);
  double lastRx = r.kit().lastPeerRx();
  Bytes good = r.partner.seal(Bytes{0x81, 5});
  FakePartner stranger;
  stranger.peerLine(r.kit().peerKey().publicKey());

  std::mt19937 rng(7);
  std::vector<std::pair<Bytes, Address>> bad;
  for (size_t size : {0, 1, 2, 25, 26, 40, 1500}) {
    Bytes junk(size);
    for (auto& b : junk) b = uint8_t(rng());
    if (!junk.empty()) junk[0] = 0xC0;
    bad.push_back({junk, r.partner.publicAddress});
    Bytes viaServer{0x14};
    append(viaServer, junk);
    bad.push_back({viaServer, ClientRig::serverAddress()});
  }
  for (size_t cut = 0; cut < good.size(); cut += 3) bad.push_back({bytes(good, 0, cut), r.partner.publicAddress});
  Bytes flipped = good;
  flipped[12] ^= 1;
  bad.push_back({flipped, r.partner.publicAddress});
  bad.push_back({stranger.seal(Bytes{0x81, 6}), r.partner.publicAddress});
  bad.push_back({stranger.relayed("BYE"), ClientRig::serverAddress()});
  bad.push_back({r.partner.channel->seal(Bytes{}), r.partner.publicAddress});  // empty plaintext
  bad.push_back({Bytes{0x14}, ClientRig::serverAddress()});

  for (auto& [packet, from] : bad) r.rig.deliver(packet, from);
  EXPECT_TRUE(r.rig.data.empty());
  EXPECT_EQ(r.client().state(), State::connected);
  EXPECT_EQ(r.kit().lastPeerRx(), lastRx);

  // The good one opens once; its replay, on any path, does not.
  r.rig.deliver(good, r.partner.publicAddress);
  r.rig.deliver(good, r.partner.lanAddress);
  Bytes replayed{0x14};
  append(replayed, good);
  r.rig.deliver(replayed, ClientRig::serverAddress());
  EXPECT_EQ(r.rig.data.size(), 1u);
  Bytes bye = r.partner.seal("BYE");
  r.rig.deliver(bye, r.partner.publicAddress);
  EXPECT_EQ(r.rig.disconnects, 1);
  EXPECT_EQ(r.client().state(), State::registered);
}

}  // namespace
}  // namespace plimo
