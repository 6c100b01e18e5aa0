// The partner rendezvous of the server link: CONNECT, the PEER introduction,
// the punch schedule, locking direct or through the server, giving up.
#include <gtest/gtest.h>

#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/link/PlimoClient.h"
#include "testkit/PeerRig.h"

namespace plimo {
namespace {

using testkit::ClientRig;
using testkit::FakePartner;
using testkit::PeerRig;
using State = PlimoClient::State;

const std::string kPunch = std::string("PUNCH ") + PeerRig::kMyID;

bool hasLine(ClientRig& rig, const std::string& line) {
  for (auto& l : rig.lines()) {
    if (l == line) return true;
  }
  return false;
}

TEST(ClientPeerPunch, ConnectAsksTheServerWithAddressAndKey) {
  PeerRig r;
  r.client().connect("987654321");
  EXPECT_TRUE(r.client().initiator());
  EXPECT_TRUE(r.logged("Asking server for 987 654 321"));
  std::string key = PlimoCrypto::hex(r.kit().peerKey().publicKey());
  EXPECT_EQ(r.rig.lines(), std::vector<std::string>{"CONNECT 987654321 192.168.1.20 40000 " + key});
  EXPECT_EQ(r.client().state(), State::registered);  // only PEER moves it

  r.introduce();
  r.client().connect("987654321");  // ignored while punching
  EXPECT_TRUE(r.rig.lines().empty());
}

// The server (or whoever speaks for it) introducing another PC than the one
// asked for does not make this helper punch to it.
TEST(ClientPeerPunch, APeerNamingAnotherIDThanTheOneAskedForIsIgnored) {
  PeerRig r;
  r.client().connect("111222333");
  r.rig.lines();
  r.introduce();  // names 987654321
  EXPECT_EQ(r.client().state(), State::registered);
  EXPECT_TRUE(r.rig.lines().empty());
  EXPECT_TRUE(r.logged("The server introduced 987 654 321, not 111 222 333 that this PC asked for; ignored"));
  r.partner.id = "111222333";
  r.introduce();
  EXPECT_EQ(r.client().state(), State::punching);
  EXPECT_EQ(r.client().partnerID(), "111222333");
}

TEST(ClientPeerPunch, ConnectWithoutServerSessionFails) {
  PeerRig r(false);
  r.rig.start();
  r.client().connect("987654321");
  EXPECT_EQ(r.rig.failures, std::vector<std::string>{"Not connected to the server yet."});
  EXPECT_TRUE(r.logged("Not connected to the server yet."));
  EXPECT_FALSE(r.client().initiator());
}

TEST(ClientPeerPunch, PeerReplySetsUpThePartnerAndPunchesEveryCandidate) {
  PeerRig r;
  double t0 = r.rig.loop.now();
  r.introduce(" Alice U");
  auto& c = r.client();
  EXPECT_EQ(c.state(), State::punching);
  EXPECT_EQ(c.partnerID(), "987654321");
  EXPECT_EQ(c.partnerName(), "Alice");
  EXPECT_EQ(r.kit().partnerRelay(), 'U');
  EXPECT_FALSE(r.kit().relayPunch());
  EXPECT_EQ(c.checkNumber(), PlimoCrypto::checkNumber(r.partner.key.publicKey(), r.kit().peerKey().publicKey()));
  EXPECT_EQ(r.kit().candidates(), (std::vector<Address>{r.partner.publicAddress, r.partner.lanAddress}));
  ASSERT_TRUE(c.lastAttempt());
  EXPECT_EQ(c.lastAttempt()->partnerID, "987654321");
  EXPECT_EQ(c.lastAttempt()->publicAddress, "198.51.100.7:50000");
  EXPECT_EQ(c.lastAttempt()->lanAddress, "10.0.0.7:40100");
  EXPECT_EQ(c.lastAttempt()->outcome, "in progress");
  EXPECT_EQ(c.lastAttempt()->relayOffered, "yes, other PC on UDP");
  EXPECT_EQ(c.lastAttempt()->started, r.rig.loop.wallNow());
  EXPECT_TRUE(r.logged("Partner 987 654 321 is at 198.51.100.7:50000 (LAN 10.0.0.7:40100), punching..."));

  // The first try at once, then one every 0.2 s, to both addresses.
  auto sent = r.drain();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].to, r.partner.publicAddress);
  EXPECT_EQ(sent[1].to, r.partner.lanAddress);
  EXPECT_EQ(sent[0].line, kPunch);
  for (int i = 1; i <= 5; ++i) {
    r.rig.loop.advance(0.2);
    sent = r.drain();
    ASSERT_EQ(sent.size(), 2u) << i;
    EXPECT_NEAR(sent[0].at - t0, 0.2 * i, 1e-9);
    EXPECT_EQ(PeerRig::count(sent, kPunch), 2u);
  }
  EXPECT_EQ(r.kit().punchTries(), 6);
}

TEST(ClientPeerPunch, CandidatesAndOlderServerForms) {
  {
    PeerRig r;  // same address twice: one candidate; seven words: no name, no relaying
    r.partner.lanAddress = r.partner.publicAddress;
    r.introduce("");
    EXPECT_EQ(r.kit().candidates(), std::vector<Address>{r.partner.publicAddress});
    EXPECT_EQ(r.client().partnerName(), "");
    EXPECT_EQ(r.kit().partnerRelay(), '-');
    EXPECT_EQ(r.client().lastAttempt()->relayOffered, "no (older server)");
    r.rig.loop.advance(5.05);
    auto sent = r.drain();
    EXPECT_EQ(PeerRig::count(sent, kPunch, Address{}), 0u);  // nothing through the server
    EXPECT_EQ(sent.size(), 26u);
  }
  {
    PeerRig r;  // same IP, other port: two candidates; an unknown relay word counts as none
    r.partner.lanAddress = {r.partner.publicAddress.ip, 50001};
    r.introduce(" - X");
    EXPECT_EQ(r.kit().candidates().size(), 2u);
    EXPECT_EQ(r.kit().partnerRelay(), '-');
  }
  {
    PeerRig r;  // unusable addresses are not punched (an empty IP would go through the server)
    r.rig.sendLine("PEER  x 10.0.0.7 0 " + PlimoCrypto::hex(r.partner.key.publicKey()) + " 987654321 -");
    EXPECT_EQ(r.client().state(), State::punching);
    EXPECT_TRUE(r.kit().candidates().empty());
    r.rig.loop.advance(3.0);
    r.partner.peerLine(r.kit().peerKey().publicKey());
    EXPECT_TRUE(r.drain().empty());
  }
  {
    PeerRig r;  // fewer than seven words: ignored
    r.rig.sendLine("PEER 198.51.100.7 50000 10.0.0.7 40100 " + PlimoCrypto::hex(r.partner.key.publicKey()));
    EXPECT_EQ(r.client().state(), State::registered);
    EXPECT_FALSE(r.client().lastAttempt());
  }
}

TEST(ClientPeerPunch, BadPartnerKeyFailsTheAttempt) {
  for (std::string key : {std::string(128, 'Z'), std::string(126, '1'), std::string(128, '0')}) {
    PeerRig r;
    r.rig.sendLine("PEER 198.51.100.7 50000 10.0.0.7 40100 " + key + " 987654321 - U");
    EXPECT_EQ(r.rig.failures, std::vector<std::string>{"The partner sent an invalid key."}) << key;
    EXPECT_EQ(r.client().state(), State::registered);
    EXPECT_FALSE(r.kit().hasPeerChannel());
  }
}

TEST(ClientPeerPunch, PunchAckLocksTheDirectPath) {
  PeerRig r;
  r.client().connect("987654321");
  r.rig.lines();
  r.introduce();
  r.rig.loop.advance(0.4);
  r.drain();
  r.direct("PUNCHACK", r.partner.publicAddress);
  auto& c = r.client();
  EXPECT_EQ(c.state(), State::connected);
  EXPECT_EQ(r.rig.connects, 1);
  EXPECT_EQ(c.peer(), r.partner.publicAddress);
  EXPECT_FALSE(c.viaRelay());
  EXPECT_EQ(c.lastAttempt()->outcome, "connected");
  EXPECT_EQ(c.lastAttempt()->path, "198.51.100.7:50000");
  EXPECT_TRUE(r.logged("Direct encrypted link to 198.51.100.7:50000 (AES-256-GCM). Check number " + c.checkNumber()));
  EXPECT_TRUE(hasLine(r.rig, "SESSION START 987654321 V"));

  // No more punches; a PING every 5 s on the locked path.
  r.rig.loop.advance(4.9);
  EXPECT_TRUE(r.drain().empty());
  r.rig.loop.advance(0.1);
  auto sent = r.drain();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].line, "PING");
  EXPECT_EQ(sent[0].to, r.partner.publicAddress);
}

TEST(ClientPeerPunch, PunchFromAnAddressThatIsNoCandidateLocksToIt) {
  PeerRig r;
  r.introduce();
  Address remapped{r.partner.publicAddress.ip, 61234};  // the partner's NAT picked another port
  r.drain();
  r.direct(kPunch.substr(0, 6) + r.partner.id, remapped);
  auto& c = r.client();
  EXPECT_EQ(c.state(), State::connected);
  EXPECT_EQ(c.peer(), remapped);
  auto sent = r.drain();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].line, "PUNCHACK");
  EXPECT_EQ(sent[0].to, remapped);
  EXPECT_TRUE(hasLine(r.rig, "SESSION START 987654321 H"));
  // A late punch on the locked link is still answered, and changes nothing.
  r.direct("PUNCH 987654321", r.partner.publicAddress);
  EXPECT_EQ(PeerRig::count(r.drain(), "PUNCHACK", r.partner.publicAddress), 1u);
  EXPECT_EQ(c.peer(), remapped);
  EXPECT_EQ(r.rig.connects, 1);
}

TEST(ClientPeerPunch, RelayedPunchingFromTry15AndRelayedLock) {
  PeerRig r;
  double t0 = r.rig.loop.now();
  r.introduce(" - U");
  r.rig.loop.advance(2.6);  // 14 tries
  auto sent = r.drain();
  EXPECT_EQ(PeerRig::count(sent, kPunch, Address{}), 0u);
  EXPECT_EQ(sent.size(), 28u);
  r.rig.loop.advance(0.2);  // the 15th
  sent = r.drain();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(PeerRig::count(sent, kPunch, Address{}), 1u);
  EXPECT_NEAR(sent.back().at - t0, 2.8, 1e-9);
  EXPECT_TRUE(r.kit().relayPunch());

  r.viaServer("PUNCHACK");
  auto& c = r.client();
  EXPECT_EQ(c.state(), State::connected);
  EXPECT_TRUE(c.viaRelay());
  EXPECT_EQ(c.peer(), Address{});
  EXPECT_EQ(c.lastAttempt()->path, "through the server");
  EXPECT_TRUE(r.logged(
      "Encrypted link to the other PC through the server (no direct path; the server passes the packets on but "
      "cannot read them, AES-256-GCM). Check number " +
      c.checkNumber()));
  Bytes session{0x81, 1, 2, 3};
  c.sendData(session);
  sent = r.drain();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].to, Address{});
  EXPECT_EQ(toBytes(sent[0].line), session);
}

TEST(ClientPeerPunch, PartnerOnTcpMeansNoDirectPunch) {
  PeerRig r;
  r.introduce(" - T");
  auto& c = r.client();
  EXPECT_TRUE(r.kit().candidates().empty());
  EXPECT_TRUE(r.kit().relayPunch());
  EXPECT_TRUE(r.logged("Partner 987 654 321; one of us is on the TCP fallback, so the session goes through the server"));
  EXPECT_EQ(c.lastAttempt()->relayOffered, "yes, other PC on TCP");
  r.rig.loop.advance(3.0);
  auto sent = r.drain();
  EXPECT_EQ(sent.size(), 16u);
  EXPECT_EQ(PeerRig::count(sent, kPunch, Address{}), 16u);
}

TEST(ClientPeerPunch, ThisSideOnTcpMeansNoDirectPunch) {
  PeerRig r(false);
  r.rig.start();
  r.rig.loop.advance(6.0);  // three UDP handshakes unanswered
  ASSERT_EQ(r.rig.sockets.tcp.size(), 1u);
  r.rig.sockets.tcp[0]->accept();
  r.rig.loop.advance(1.0);
  r.rig.welcome();
  r.rig.sendLine(std::string("ID ") + PeerRig::kMyID);
  ASSERT_TRUE(r.kit().onTcp());
  r.introduce(" - U");
  EXPECT_TRUE(r.kit().candidates().empty());
  r.rig.loop.advance(1.0);
  auto sent = r.drain();
  ASSERT_EQ(sent.size(), 6u);
  for (auto& s : sent) {
    EXPECT_EQ(s.to, Address{});
    EXPECT_TRUE(s.droppable);  // relayed partner traffic may be dropped by a busy TCP link
  }
}

struct GiveUpCase {
  std::string tail;
  bool blocked;
  std::string failure;
  std::string outcome;
  bool triedRelay;
};

TEST(ClientPeerPunch, FiftyTriesWithoutAnswerGiveUpWithDiagnostics) {
  std::vector<GiveUpCase> cases = {
      {"", false, "Could not reach the other PC directly. One of the networks blocks it.",
       "failed: no direct path after 10 s", false},
      {" - U", false,
       "Could not reach the other PC, directly or through the server. Help > Connection Test shows where it stops.",
       "failed: no answer directly or through the server after 10 s", true},
      {" - U", true,
       "The firewall of this PC does not let Plimo reach the other PC on your network. Allow Plimo's UDP traffic "
       "in the firewall (for example with ufw), then connect again.",
       "failed: no answer directly or through the server after 10 s", true},
  };
  for (auto& k : cases) {
    PeerRig r;
    double t0 = r.rig.loop.now();
    Bytes oldKey = r.kit().peerKey().publicKey();
    r.introduce(k.tail);
    r.rig.lines();
    // Three packets from partner addresses: garbage, another key, and
    // session data that opens but has no session to go to yet.
    r.rig.deliver(Bytes{0xC0, 1, 2, 3}, {"192.0.2.9", 4000});
    FakePartner stranger;
    stranger.peerLine(r.kit().peerKey().publicKey());
    r.rig.deliver(stranger.seal("PUNCHACK"), r.partner.publicAddress);
    r.direct(Bytes{0x81, 9}, r.partner.lanAddress);
    r.rig.udp().lastSendError = "Network is unreachable (to 10.0.0.7:40100)";
    r.rig.udp().localNetworkBlocked = k.blocked;

    r.rig.loop.advance(9.9);
    EXPECT_EQ(r.client().state(), State::punching);
    ASSERT_TRUE(r.rig.loop.runUntil([&] { return r.client().state() != State::punching; }, 0.2, 0.001));
    auto& c = r.client();
    EXPECT_EQ(c.state(), State::registered);
    EXPECT_NEAR(r.rig.loop.now() - t0, 10.0, 1e-3);
    EXPECT_EQ(r.rig.failures, std::vector<std::string>{k.failure});
    EXPECT_TRUE(r.logged(k.failure));
    EXPECT_TRUE(r.logged("Punch diagnostics: 3 packet(s) from other addresses, 1 decrypted; last send error: "
                         "Network is unreachable (to 10.0.0.7:40100)"));
    EXPECT_TRUE(r.rig.data.empty());
    ASSERT_TRUE(c.lastAttempt());
    const auto& a = *c.lastAttempt();
    EXPECT_EQ(a.packetsIn, 3);
    EXPECT_EQ(a.packetsDecrypted, 1);
    EXPECT_EQ(a.sendError, "Network is unreachable (to 10.0.0.7:40100)");
    EXPECT_EQ(a.localNetworkBlocked, k.blocked);
    EXPECT_EQ(a.outcome, k.outcome);
    EXPECT_EQ(a.triedRelay, k.triedRelay);
    EXPECT_EQ(a.path, "");

    auto sent = r.drain();
    EXPECT_EQ(PeerRig::count(sent, kPunch, r.partner.publicAddress), 50u);
    EXPECT_EQ(PeerRig::count(sent, kPunch, Address{}), k.triedRelay ? 36u : 0u);
    // The partner keeps its data for display; a fresh key goes to the server.
    EXPECT_EQ(c.partnerID(), "987654321");
    EXPECT_FALSE(r.kit().hasPeerChannel());
    EXPECT_NE(r.kit().peerKey().publicKey(), oldKey);
    auto lines = r.rig.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("HELLO 123456789 ", 0), 0u);
    EXPECT_NE(lines.back().find(PlimoCrypto::hex(r.kit().peerKey().publicKey())), std::string::npos);
    r.rig.loop.advance(1.0);
    EXPECT_TRUE(r.drain().empty());
  }
}

TEST(ClientPeerPunch, PeerWhilePunchingIsIgnored) {
  PeerRig r;
  r.introduce();
  std::string number = r.client().checkNumber();
  FakePartner other;
  other.id = "555666777";
  r.introduce(other);
  EXPECT_EQ(r.client().partnerID(), "987654321");
  EXPECT_EQ(r.client().checkNumber(), number);
  r.direct("PUNCHACK", r.partner.publicAddress);
  EXPECT_EQ(r.client().state(), State::connected);
}

TEST(ClientPeerPunch, ServerRefusalsEndTheAttempt) {
  for (auto [line, text] : std::vector<std::pair<std::string, std::string>>{
           {"ERR UNKNOWN_ID", "That ID is not online."},
           {"ERR RATE_LIMIT", "Too many wrong IDs. Wait a minute and try again."},
           {"ERR SELF", "That is your own ID."}}) {
    PeerRig r;
    r.client().connect("987654321");
    r.rig.sendLine(line);
    EXPECT_EQ(r.rig.failures, std::vector<std::string>{text});
    EXPECT_FALSE(r.client().initiator());
  }
}

}  // namespace
}  // namespace plimo
