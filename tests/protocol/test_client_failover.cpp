// A server name with several addresses (a fleet): the client goes on to the
// next address when the one in use stops answering, looks the name up again
// after the last, and registers there, keeping its ID through its PIN.
#include <gtest/gtest.h>

#include "testkit/ClientRig.h"

using namespace plimo;
using namespace plimo::testkit;

namespace {

constexpr const char* kA = "203.0.113.5";
constexpr const char* kB = "203.0.113.6";

// Where the client's UDP handshakes went since `from`, one entry per change.
std::vector<std::string> handshakeTargets(ClientRig& rig, size_t from = 0) {
  std::vector<std::string> to;
  auto& sent = rig.udp().sent;
  for (size_t i = from; i < sent.size(); ++i) {
    if (FakeRelayServer::isHandshake(sent[i].data) && (to.empty() || to.back() != sent[i].to.ip)) {
      to.push_back(sent[i].to.ip);
    }
  }
  return to;
}

Bytes lastHandshakeTo(ClientRig& rig, const std::string& ip) {
  Bytes last;
  for (auto& d : rig.udp().sent) {
    if (FakeRelayServer::isHandshake(d.data) && d.to.ip == ip) last = d.data;
  }
  return last;
}

}  // namespace

TEST(ClientFailover, TriesEachAddressInTurnThenLooksTheNameUpAgain) {
  ClientRig rig("");
  rig.sockets.fleets[ClientRig::kHost] = {kA, kB};
  rig.start();
  EXPECT_EQ(rig.sockets.lookups, 1);
  rig.loop.advance(29);
  EXPECT_EQ(handshakeTargets(rig), std::vector<std::string>{kA});
  rig.loop.advance(2);  // 31 s: A gave no answer for 30 s
  EXPECT_EQ(handshakeTargets(rig), (std::vector<std::string>{kA, kB}));
  EXPECT_TRUE(rig.logged("Server 203.0.113.5:47800 does not answer; trying 203.0.113.6"));
  EXPECT_EQ(rig.sockets.lookups, 1);
  // B silent too: the name again, and the turn goes on from its first address.
  rig.loop.advance(32);
  EXPECT_EQ(rig.sockets.lookups, 2);
  EXPECT_EQ(handshakeTargets(rig), (std::vector<std::string>{kA, kB, kA}));
}

TEST(ClientFailover, ASingleAddressStaysAndIsLookedUpAgain) {
  ClientRig rig("");
  rig.start();
  rig.loop.advance(61);
  EXPECT_EQ(handshakeTargets(rig), std::vector<std::string>{ClientRig::kServerIP});
  EXPECT_EQ(rig.sockets.lookups, 3);  // at start, 30 s and 60 s
}

TEST(ClientFailover, ASessionWhoseServerFallsSilentMovesToTheNextAndKeepsItsId) {
  ClientRig rig("");
  rig.sockets.fleets[ClientRig::kHost] = {kA, kB};
  rig.start();
  rig.deliver(rig.relay.welcome(rig.handshakes().back()), {kA, ClientRig::kServerPort});
  rig.lines();
  rig.deliver(rig.relay.seal("ID 123456789 pinned"), {kA, ClientRig::kServerPort});
  size_t before = rig.udp().sent.size();
  // A is killed: its silence ends the session, and B is tried at once.
  rig.loop.advance(link::kServerSilence + 2);
  EXPECT_EQ(handshakeTargets(rig, before), std::vector<std::string>{kB});
  // B's welcome: the HELLO names the ID the client had.
  rig.deliver(rig.relay.welcome(lastHandshakeTo(rig, kB)), {kB, ClientRig::kServerPort});
  bool named = false;
  for (auto& d : rig.udp().sent) {
    if (d.to.ip != kB) continue;
    auto line = rig.relay.open(d.data);
    named = named || (line && line->rfind("HELLO 123456789 ", 0) == 0);
  }
  EXPECT_TRUE(named) << testing::PrintToString(rig.logs);
}
