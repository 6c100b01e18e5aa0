// Introductions and relaying across two servers of one fleet sharing a
// store, on virtual time: the lines and datagrams they pass each other
// carried by hand, garbled, forged, replayed or lost on the way.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "server/EarlyFleetPackets.h"
#include "server/FleetIntroductions.h"
#include "server/FleetLine.h"
#include "server/FleetMail.h"
#include "server/FleetPacket.h"
#include "server/FleetRelay.h"
#include "server/Registration.h"
#include "server/ServerRig.h"
#include "testkit/TempDir.h"

using namespace plimo;
using namespace plimo::testkit;

namespace {

const std::string kKey(128, 'A');
const std::string kOtherKey(128, 'B');

std::string ask() {
  return "ASK 00000000000000ff a:47800 b:47800 123456789 P 198.51.100.7 40000 192.168.1.20 40000 " + kKey +
         " U 987654321";
}

struct Mailroom final : FleetMail {
  std::vector<std::pair<std::string, std::string>> lines;  // to, line
  void send(const std::string& to, const std::string& line) override { lines.emplace_back(to, line); }
};

const Endpoint kRelayA = Endpoint::udp(0x7F000002, 47801), kRelayB = Endpoint::udp(0x7F000003, 47801);

struct Fleet {
  Fleet() : a(named("a"), key, openStore(db)), b(named("b"), key, openStore(db)) {
    a.server.joinFleet(mail);
    b.server.joinFleet(mail);
    a.server.relayThroughFleet(relayA, "127.0.0.2:47801");
    b.server.relayThroughFleet(relayB, "127.0.0.3:47801");
  }
  static RelayConfig named(const std::string& name) {
    RelayConfig config = testConfig();
    config.serverName = name;
    return config;
  }
  // Every line on its way reaches its server, answers included.
  void deliver() {
    while (!mail.lines.empty()) {
      auto [to, line] = mail.lines.front();
      mail.lines.erase(mail.lines.begin());
      (to == "a" ? a : b).server.fleetLine(line);
    }
  }
  // The datagrams each server relayed to the other, taken off the way.
  std::vector<Bytes> taken(RecordingSink& from, const Endpoint& to) {
    std::vector<Bytes> out;
    for (auto& sent : from.sent) {
      EXPECT_EQ(sent.to, to);
      out.push_back(sent.packet);
    }
    from.sent.clear();
    return out;
  }
  void relay() {
    for (Bytes& d : taken(relayA, kRelayB)) b.server.fleetPacket(kRelayA, d);
    for (Bytes& d : taken(relayB, kRelayA)) a.server.fleetPacket(kRelayB, d);
  }

  TempDir dir{"fleet-intro"};
  std::string db = (dir / "plimo-server.db").string();
  Mailroom mail;
  SigningKey key = SigningKey::generate();  // the fleet's one
  RecordingSink relayA, relayB;
  ServerRig a;
  ServerRig b;
};

// A helper on A introduced to a PC on B, both heard PEER.
struct Introduced : Fleet {
  Introduced() {
    pcID = pc.registerAs();
    helperID = helper.registerAs();
    helper.say("CONNECT " + pcID + " 10.0.0.9 5 " + kOtherKey);
    deliver();
    EXPECT_EQ(pc.lines().size(), 1u);
    EXPECT_EQ(helper.lines().size(), 1u);
  }
  RigClient pc{b, RigClient::udp(40001, 0xCB007109)};
  RigClient helper{a, RigClient::udp(40002, 0xC6336407)};
  std::string pcID, helperID;
};

Bytes relayed(uint8_t tag) { return Bytes{ServerPacket::kRelayed, 0xC0, tag, 1, 2, 3}; }

bool startsWith(const std::vector<std::string>& lines, const std::string& head) {
  return lines.size() == 1 && lines[0].rfind(head, 0) == 0;
}

}  // namespace

TEST(FleetLine, ReadsItsThreeLinesAndNothingElse) {
  std::string peer = "PEER 00000000000000ff b:47800 a:47800 203.0.113.9 41000 10.0.0.4 41001 " + kOtherKey +
                     " 987654321 T";
  for (const std::string& good : {ask(), peer, std::string("NO 00000000000000ff b:47800 a:47800")}) {
    auto line = FleetLine::parse(good);
    ASSERT_TRUE(line) << good;
    EXPECT_EQ(line->text(), good);
  }
  auto parsed = FleetLine::parse(ask());
  EXPECT_EQ(parsed->nonce, 0xffu);
  EXPECT_TRUE(parsed->pinned);
  EXPECT_EQ(parsed->about.peerLine(), "PEER 198.51.100.7 40000 192.168.1.20 40000 " + kKey + " 123456789 - U");
  EXPECT_EQ(FleetLine::parse(peer)->about.peerLine(),
            "PEER 203.0.113.9 41000 10.0.0.4 41001 " + kOtherKey + " 987654321 - T");

  auto with = [](std::string from, const std::string& what, const std::string& instead) {
    return from.replace(from.find(what), what.size(), instead);
  };
  const std::string bad[] = {
      "",
      "garbage",
      std::string("ASK \x01\xff\x00", 7),
      ask().substr(0, ask().size() - 10),          // truncated
      ask() + " 1",                                 // a word too many
      ask() + " ",                                  // trailing space
      with(ask(), " P ", "  P "),                   // two spaces
      ask() + std::string(FleetLine::kMaxLength, 'x'),
      with(ask(), "00000000000000ff", "ff"),        // short nonce
      with(ask(), "00000000000000ff", "00000000000000fg"),
      with(ask(), "a:47800", "a\x1b[2J"),           // not a server's name
      with(ask(), "a:47800", std::string(FleetLine::kMaxServerName + 1, 'a')),
      with(ask(), "123456789", "023456789"),        // never an ID
      with(ask(), "123456789", "12345678"),
      with(ask(), "987654321", "123456789"),        // asks for itself
      with(ask(), " P ", " p "),
      with(ask(), "198.51.100.7", "198.51.100"),
      with(ask(), "198.51.100.7", "example.org"),
      with(ask(), "40000 192", "65536 192"),
      with(ask(), "40000 192", "040000 192"),
      with(ask(), "40000 192", "-1 192"),
      with(ask(), kKey, kKey.substr(1)),            // a key one digit short
      with(ask(), kKey, kKey.substr(1) + "z"),
      with(ask(), " U ", " X "),
      with(peer, " T", " U T"),
      "NO 00000000000000ff b:47800",
      "WHO 00000000000000ff b:47800 a:47800",
  };
  for (const std::string& text : bad) EXPECT_FALSE(FleetLine::parse(text)) << text;
}

// A helper on A reaches a PC on B as if both were on one server: PEER on both
// sides, and the session's record is written once, by A.
TEST(FleetIntroductions, AHelperOnOneServerReachesAPcOnTheOther) {
  Fleet fleet;
  RigClient pc(fleet.b, RigClient::udp(40001, 0xCB007109));
  RigClient helper(fleet.a, RigClient::udp(40002, 0xC6336407));
  std::string pcID = pc.registerAs(), helperID = helper.registerAs();
  ASSERT_FALSE(pcID.empty() || helperID.empty());

  EXPECT_TRUE(helper.say("CONNECT " + pcID + " 10.0.0.9 5 " + kOtherKey).empty());
  fleet.deliver();
  EXPECT_EQ(pc.lines(), std::vector<std::string>{"PEER 198.51.100.7 40002 10.0.0.9 5 " + kOtherKey + " " + helperID +
                                                 " - U"});
  EXPECT_EQ(helper.lines(),
            std::vector<std::string>{"PEER 203.0.113.9 40001 192.168.1.20 40000 " + kKey + " " + pcID + " - U"});

  helper.say("SESSION START " + pcID + " V");
  pc.say("SESSION START " + helperID + " H");
  fleet.a.loop.advance(30);
  helper.say("SESSION END");
  pc.say("SESSION END");
  ASSERT_EQ(fleet.a.store->usageCount(), 1);
  auto usage = fleet.a.store->usage(1);
  ASSERT_TRUE(usage);
  EXPECT_EQ(usage->viewerID, helperID);
  EXPECT_EQ(usage->hostID, pcID);
  EXPECT_EQ(usage->seconds, 30);
}

// B's gate decides for its PC with unattended access on what A vouches for.
TEST(FleetIntroductions, TheUnattendedGateOfThePcsServerCounts) {
  struct Case {
    const char* what;
    bool trusted;
    bool kept;
    bool introduced;
  } cases[] = {
      {"stranger", false, false, false},
      {"kept but not trusted", false, true, false},
      {"trusted but not kept in this session", true, false, false},
      {"kept and trusted", true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fleet fleet;
    RigClient pc(fleet.b, RigClient::udp(40001));
    RigClient helper(fleet.a, RigClient::udp(40002, 0x0A000009));
    std::string pcID = pc.registerAs();
    pc.say("HELLO " + pcID + " 192.168.7.7 41000 " + kKey + " 127.0.0.1 1");
    std::string helperID = helper.registerAs();
    if (c.kept) {
      ASSERT_EQ(helper.say("PIN " + helperID + " " + std::string(64, 'C'))[0], "PIN OK " + helperID);
    }
    if (c.trusted) {
      if (!c.kept) {
        ASSERT_TRUE(fleet.a.store->setPin(helperID, Registration::secretHash("elsewhere"), 1));
      }
      ASSERT_TRUE(fleet.a.store->trustHelper(helperID, "Anna", 1).valueOr(false));
    }
    helper.say("CONNECT " + pcID + " 10.0.0.9 5 " + kKey);
    fleet.deliver();
    EXPECT_EQ(pc.lines().size(), c.introduced ? 1u : 0u);
    auto answer = helper.lines();
    EXPECT_TRUE(startsWith(answer, c.introduced ? "PEER " : "ERR UNKNOWN_ID")) << answer.at(0);
    EXPECT_EQ(fleet.b.logged("Refused ID " + helperID + " on server a"), !c.introduced);
  }
}

// Lines that are not what a live server of the fleet would send are dropped
// and logged, within a budget, and nobody hears anything of them.
TEST(FleetIntroductions, ForgedGarbledAndStrayLinesAreDroppedAndLogged) {
  Fleet fleet;
  RigClient pc(fleet.b, RigClient::udp(40001));
  RigClient helper(fleet.a, RigClient::udp(40002));
  std::string pcID = pc.registerAs(), helperID = helper.registerAs();
  helper.say("CONNECT " + pcID + " 10.0.0.9 5 " + kKey);
  ASSERT_EQ(fleet.mail.lines.size(), 1u);
  const std::string asked = fleet.mail.lines[0].second;
  fleet.mail.lines.clear();
  auto replaced = [](std::string text, const std::string& what, const std::string& instead) {
    return text.replace(text.find(what), what.size(), instead);
  };
  const std::string nonce = asked.substr(4, 16);
  struct Case {
    const char* what;
    bool toA;
    std::string line;
    const char* why;
  } cases[] = {
      {"garbage", false, "ASK \x1b[2J", "not a fleet line"},
      {"for another server", false, replaced(asked, " b ", " c "), "for another server"},
      {"from a server that never beat", false, replaced(asked, " a ", " z "), "not alive"},
      {"from itself", false, replaced(asked, " a ", " b "), "not alive"},
      {"an answer to nothing asked", true, "NO 0123456789abcdef b a", "answering nothing"},
      {"the answer from a server not asked", true, "NO " + nonce + " c a", "answering nothing"},
      {"another PC's line", true,
       "PEER " + nonce + " b a 203.0.113.9 41000 10.0.0.4 41001 " + kKey + " " +
           (pcID == "111111111" ? "222222222" : "111111111") + " U",
       "answering nothing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ServerRig& to = c.toA ? fleet.a : fleet.b;
    to.logs.clear();
    to.server.fleetLine(c.line);
    EXPECT_TRUE(fleet.mail.lines.empty());
    EXPECT_TRUE(to.logged(c.why));
    EXPECT_TRUE(pc.lines().empty());
    EXPECT_TRUE(helper.lines().empty());
  }
  // The ask itself still stands and is answered.
  fleet.b.server.fleetLine(asked);
  fleet.deliver();
  EXPECT_TRUE(startsWith(helper.lines(), "PEER "));

  // A flood of garbage costs the log a few lines.
  fleet.b.logs.clear();
  for (int i = 0; i < 1000; ++i) fleet.b.server.fleetLine("garbage");
  EXPECT_LE(fleet.b.logs.size(), size_t(FleetIntroductions::kDropLogs.burst));
}

// An ask lost on the way (or a server gone mid-ask) ends in the helper's
// ERR UNKNOWN_ID once the wait runs out, and the late answer is dropped.
TEST(FleetIntroductions, AnAskWithoutAnswerEndsAsAnUnknownID) {
  Fleet fleet;
  RigClient pc(fleet.b, RigClient::udp(40001));
  RigClient helper(fleet.a, RigClient::udp(40002));
  std::string pcID = pc.registerAs();
  helper.registerAs();
  helper.say("CONNECT " + pcID + " 10.0.0.9 5 " + kKey);
  fleet.a.loop.advance(FleetIntroductions::kAnswerWait - 1.5);
  EXPECT_TRUE(helper.lines().empty());
  fleet.a.loop.advance(2);
  EXPECT_EQ(helper.lines(), std::vector<std::string>{"ERR UNKNOWN_ID"});
  fleet.deliver();
  EXPECT_TRUE(helper.lines().empty());
  EXPECT_TRUE(fleet.a.logged("answering nothing"));
}

// Partners that cannot punch relay through their own servers, and the
// servers pass each packet on, as it was sent, sealed between them; each
// side hears PARTNER GONE when the other leaves.
TEST(FleetRelay, PartnersOnTwoServersRelayThroughBothAndHearTheOtherGo) {
  Introduced fleet;
  for (uint8_t i = 0; i < 3; ++i) fleet.a.server.receive(fleet.helper.endpoint, relayed(i));
  fleet.b.server.receive(fleet.pc.endpoint, relayed(9));
  std::vector<Bytes> toB = fleet.taken(fleet.relayA, kRelayB);
  ASSERT_EQ(toB.size(), 3u);
  // Sealed: the partner's bytes are not in the clear between the servers.
  Bytes inner = relayed(0);
  EXPECT_EQ(std::search(toB[0].begin(), toB[0].end(), inner.begin(), inner.end()), toB[0].end());
  // Out of order, as datagrams may come.
  for (size_t i : {size_t(2), size_t(0), size_t(1)}) fleet.b.server.fleetPacket(kRelayA, toB[i]);
  fleet.relay();
  EXPECT_EQ(fleet.pc.received(), (std::vector<Bytes>{relayed(2), relayed(0), relayed(1)}));
  EXPECT_EQ(fleet.helper.received(), std::vector<Bytes>{relayed(9)});
  EXPECT_EQ(fleet.b.server.fleetRelay().stats().received, 3u);
  // A's heartbeats read the directory again: B is still there, the pair stands.
  fleet.a.loop.advance(2 * PresenceStore::kHeartbeat);
  EXPECT_TRUE(fleet.helper.lines().empty());
  fleet.a.server.receive(fleet.helper.endpoint, relayed(4));
  fleet.relay();
  EXPECT_EQ(fleet.pc.received(), std::vector<Bytes>{relayed(4)});

  // The helper leaving ends the pair: the PC hears of it.
  fleet.helper.say("BYE");
  fleet.relay();
  EXPECT_EQ(fleet.pc.lines(), std::vector<std::string>{"PARTNER GONE"});
  fleet.b.server.receive(fleet.pc.endpoint, relayed(10));
  EXPECT_TRUE(fleet.relayB.sent.empty());
}

// The PC hears PEER before its server's answer has crossed the store: its
// first packets wait on the helper's server for the helper's PEER line, in
// order, within their budgets and time.
TEST(FleetRelay, ThePcsFirstPacketsBeforeTheAnswerWaitForTheHelpersPeer) {
  struct Case {
    const char* name;
    size_t packets, size;
    double answerAfter;
    size_t delivered;
  };
  const size_t kLarge = 1200;
  for (const Case& c : {Case{"in time", 3, 6, 0.5, 3},
                        Case{"too late", 3, 6, EarlyFleetPackets::kHoldFor + 0.5, 0},
                        Case{"flood of packets", EarlyFleetPackets::kPerServer + 10, 6, 0, EarlyFleetPackets::kPerServer},
                        Case{"flood of bytes", 100, kLarge, 0, EarlyFleetPackets::kBytesPerServer / kLarge}}) {
    SCOPED_TRACE(c.name);
    Fleet fleet;
    RigClient pc(fleet.b, RigClient::udp(40001, 0xCB007109));
    RigClient helper(fleet.a, RigClient::udp(40002, 0xC6336407));
    std::string pcID = pc.registerAs();
    helper.registerAs();
    helper.say("CONNECT " + pcID + " 10.0.0.9 5 " + kOtherKey);
    ASSERT_EQ(fleet.mail.lines.size(), 1u);
    fleet.b.server.fleetLine(fleet.mail.lines[0].second);  // the ask; B's answer still on its way
    ASSERT_EQ(pc.lines().size(), 1u);
    std::vector<Bytes> sent;
    for (size_t i = 0; i < c.packets; ++i) {
      Bytes packet(c.size, uint8_t(i));
      packet[0] = ServerPacket::kRelayed;
      sent.push_back(packet);
      fleet.b.server.receive(pc.endpoint, packet);
    }
    for (Bytes& d : fleet.taken(fleet.relayB, kRelayA)) fleet.a.server.fleetPacket(kRelayB, d);
    EXPECT_TRUE(helper.received().empty());
    fleet.a.loop.advance(c.answerAfter);
    fleet.deliver();
    std::vector<Bytes> got = helper.received();
    ASSERT_FALSE(got.empty());
    std::optional<std::string> first = helper.codec.open(got[0]);
    EXPECT_EQ(first.value_or("").rfind("PEER ", 0), 0u);
    sent.resize(c.delivered);
    EXPECT_EQ(std::vector<Bytes>(got.begin() + 1, got.end()), sent);
  }
}

TEST(FleetRelay, ThePcLeavingOrItsServerStoppingOrDyingIsHeardAsPartnerGone) {
  enum class End { pcLeaves, serverDies, serverStops, serverStopsUnheardBeforeRead };
  for (End end : {End::pcLeaves, End::serverDies, End::serverStops, End::serverStopsUnheardBeforeRead}) {
    SCOPED_TRACE(int(end));
    Introduced fleet;
    switch (end) {
      case End::pcLeaves:
        fleet.pc.say("BYE");
        fleet.relay();
        break;
      case End::serverDies:
        // B beats no more; A's heartbeats find it stale.
        fleet.a.loop.advance(PresenceStore::kStaleAfter + PresenceStore::kHeartbeat + 1);
        break;
      case End::serverStops:
        // Its goodbye comes as it leaves the directory.
        fleet.b.server.stop();
        ASSERT_TRUE(fleet.b.store->heartbeat("b", 0, 0, 0));
        fleet.relay();
        break;
      case End::serverStopsUnheardBeforeRead:
        // Its word lost, B gone from the directory before A ever read B
        // there: A's next heartbeat ends the pair all the same.
        fleet.b.server.stop();
        fleet.relayB.sent.clear();
        ASSERT_TRUE(fleet.b.store->heartbeat("b", 0, 0, 0));
        fleet.a.loop.advance(PresenceStore::kHeartbeat);
        break;
    }
    EXPECT_EQ(fleet.helper.lines(), std::vector<std::string>{"PARTNER GONE"});
    fleet.a.server.receive(fleet.helper.endpoint, relayed(1));
    EXPECT_TRUE(fleet.relayA.sent.empty());
  }
}

// What reaches a server's fleet port other than a live server's sealed
// packet for a pair it holds is dropped, counted and logged within its
// source address's budget; the PC hears nothing of it.
TEST(FleetRelay, AStrangersForgedReplayedOrStrayDatagramIsDropped) {
  Introduced fleet;
  for (uint8_t i = 0; i < 3; ++i) fleet.a.server.receive(fleet.helper.endpoint, relayed(i));
  std::vector<Bytes> sealed = fleet.taken(fleet.relayA, kRelayB);
  fleet.b.server.fleetPacket(kRelayA, sealed[0]);
  ASSERT_EQ(fleet.pc.received().size(), 1u);

  // A server holding another fleet key announces itself in the same store:
  // nothing it seals counts.
  ServerRig stranger(Fleet::named("c"), SigningKey::generate(), openStore(fleet.db));
  RecordingSink strangerSink;
  stranger.server.relayThroughFleet(strangerSink, "127.0.0.4:47801");
  fleet.b.loop.advance(FleetRelay::kLookupEvery);
  fleet.b.server.fleetPacket(kRelayA, Bytes(300, 0x5A));
  EXPECT_TRUE(fleet.b.logged("server c in the directory is not signed with the fleet's key"));

  auto flipped = [](Bytes d, size_t at) {
    d[at] ^= 1;
    return d;
  };
  Bytes unknownSender = sealed[1];
  unknownSender[0] ^= 0xFF;
  struct Case {
    const char* what;
    Bytes datagram;
    const char* why;
  } cases[] = {
      {"empty", {}, "too short"},
      {"truncated", Bytes(sealed[1].begin(), sealed[1].begin() + FleetPacket::kOverhead - 1), "too short"},
      {"cut short of its tag", Bytes(sealed[1].begin(), sealed[1].end() - 1), "does not open"},
      {"garbage", Bytes(300, 0x5A), "no live server"},
      {"oversized", Bytes(70000, 0x15), "no live server"},
      {"a stranger's key", unknownSender, "no live server"},
      {"a flipped ciphertext byte", flipped(sealed[1], sealed[1].size() - 20), "does not open"},
      {"a flipped counter", flipped(sealed[1], FleetPacket::kSenderSize + 1), "does not open"},
      {"replayed", sealed[0], "does not open"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fleet.b.logs.clear();
    uint64_t dropped = fleet.b.server.fleetRelay().stats().dropped;
    fleet.b.server.fleetPacket(kRelayA, c.datagram);
    EXPECT_EQ(fleet.b.server.fleetRelay().stats().dropped, dropped + 1);
    EXPECT_TRUE(fleet.b.logged("Dropped a datagram on the fleet port from 127.0.0.2:47801")) << c.what;
    EXPECT_TRUE(fleet.b.logged(c.why)) << (fleet.b.logs.empty() ? "" : fleet.b.logs.back());
  }
  EXPECT_TRUE(fleet.pc.received().empty());

  // For a pair B no longer holds: the PC left, and its word has not reached A.
  fleet.pc.say("BYE");
  fleet.b.logs.clear();
  fleet.b.server.fleetPacket(kRelayA, sealed[2]);
  EXPECT_TRUE(fleet.b.logged("in no session with ID " + fleet.helperID));

  // A flood from one address costs the log a few lines.
  fleet.b.logs.clear();
  for (int i = 0; i < 1000; ++i) fleet.b.server.fleetPacket(kRelayA, Bytes(100, uint8_t(i)));
  EXPECT_LE(fleet.b.logs.size(), size_t(BudgetedLog::kLinesPerAddress.burst) + 1);
}

TEST(FleetPacket, ReadsItsTwoKindsAndNothingElse) {
  auto made = [](FleetPacket::Kind kind, const std::string& to, const std::string& from, Bytes packet) {
    FleetPacket p;
    p.kind = kind;
    p.toID = to;
    p.fromID = from;
    p.packet = packet;
    return p.plain();
  };
  const Bytes relayedPlain = made(FleetPacket::Kind::relayed, "123456789", "987654321", relayed(1));
  auto parsed = FleetPacket::parse(relayedPlain);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->toID, "123456789");
  EXPECT_EQ(parsed->fromID, "987654321");
  EXPECT_EQ(Bytes(parsed->packet.begin(), parsed->packet.end()), relayed(1));
  EXPECT_TRUE(FleetPacket::parse(made(FleetPacket::Kind::gone, "123456789", "987654321", {})));

  Bytes wrongKind = relayedPlain;
  wrongKind[0] = 3;
  const Bytes bad[] = {
      {},
      Bytes(relayedPlain.begin(), relayedPlain.begin() + 8),
      wrongKind,
      made(FleetPacket::Kind::relayed, "123456789", "987654321", {}),
      made(FleetPacket::Kind::relayed, "123456789", "987654321", {ServerPacket::kRelayed}),
      made(FleetPacket::Kind::relayed, "123456789", "987654321", {ServerPacket::kSealed, 1}),
      made(FleetPacket::Kind::gone, "123456789", "987654321", {1}),
      made(FleetPacket::Kind::gone, "123456789", "123456789", {}),
      made(FleetPacket::Kind::gone, "12345678", "987654321", {}),   // never an ID
      made(FleetPacket::Kind::gone, "123456789", "4294967295", {}),
  };
  for (const Bytes& b : bad) EXPECT_FALSE(FleetPacket::parse(b)) << PlimoCrypto::hex(b);
}
