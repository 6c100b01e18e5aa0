// The directory of a fleet: servers sharing one store know which of them
// holds which ID online, so that an ID is never online on two at once, and a
// server that dies gives its IDs up within PresenceStore::kStaleAfter.

#include <gtest/gtest.h>

#include <sstream>

#include "server/FleetStatus.h"
#include "server/ServerRig.h"
#include "server/StoreEngines.h"

using namespace plimo;
using namespace plimo::testkit;

namespace {

struct EveryDirectory : StoreEngineTest {};
PLIMO_ON_EVERY_STORE(EveryDirectory);

RelayConfig named(const std::string& name) {
  RelayConfig config = testConfig();
  config.serverName = name;
  return config;
}

}  // namespace

TEST_P(EveryDirectory, PresenceCountsWhileItsServerBeats) {
  const int64_t t = 1700000000;
  ASSERT_TRUE(store->heartbeat("a", t, 1, 0));
  ASSERT_TRUE(store->setPresence("123456789", "a", "198.51.100.7:40000", t));
  EXPECT_EQ(store->presentOn("123456789", t + PresenceStore::kStaleAfter).valueOr(std::nullopt), "a");
  // Silent past the limit: gone, whatever its rows say.
  EXPECT_FALSE(store->presentOn("123456789", t + PresenceStore::kStaleAfter + 1).valueOr("?"));
  // Another server taking the ID over: the first one's end of it changes nothing.
  ASSERT_TRUE(store->heartbeat("b", t, 1, 0));
  ASSERT_TRUE(store->setPresence("123456789", "b", "203.0.113.9:40000", t));
  ASSERT_TRUE(store->dropPresence("123456789", "a"));
  EXPECT_EQ(store->presentOn("123456789", t).valueOr(std::nullopt), "b");
  ASSERT_TRUE(store->clearPresence("b"));
  EXPECT_FALSE(store->presentOn("123456789", t).valueOr("?"));
  ASSERT_TRUE(store->announce("b", "203.0.113.9:47801", "0A1B"));
  ASSERT_TRUE(store->heartbeat("b", t + 5, 7, 2));
  auto servers = store->servers();
  ASSERT_TRUE(servers);
  ASSERT_EQ(servers->size(), 2u);
  EXPECT_EQ(servers->at(1).name, "b");
  EXPECT_EQ(servers->at(1).heartbeat, t + 5);
  EXPECT_EQ(servers->at(1).clients, 7);
  EXPECT_EQ(servers->at(1).sessions, 2);
  EXPECT_EQ(servers->at(1).relay + " " + servers->at(1).relayKey, "203.0.113.9:47801 0A1B");
  EXPECT_EQ(servers->at(0).relay, "");
}

// Alive, gone (killed: silent past the limit) and stopped servers, a name
// with a terminal escape shown plainly.
TEST_P(EveryDirectory, FleetStatusTellsLiveServersFromDeadOnes) {
  const int64_t now = 1700000000;
  ASSERT_TRUE(store->heartbeat("a:47800", now - 5, 120, 3));
  ASSERT_TRUE(store->heartbeat("b:47800", now - PresenceStore::kStaleAfter - 1, 80, 1));
  ASSERT_TRUE(store->heartbeat("c:47800", 0, 0, 0));
  ASSERT_TRUE(store->heartbeat("d\x1b[2J", now, 0, 0));
  std::ostringstream out;
  ASSERT_TRUE(FleetStatus::write(*store, now, out));
  EXPECT_EQ(out.str(),
            "Server                          State    Clients  Sessions  Last heartbeat\n"
            "a:47800                         alive        120         3  5 s ago\n"
            "b:47800                         gone          80         1  31 s ago\n"
            "c:47800                         stopped        0         0  -\n"
            "d\\x1b[2J                        alive          0         0  0 s ago\n");
}

// A kept ID online on server A cannot be taken on server B while A lives and
// holds it; it moves once its PC leaves A, or once A stops beating (killed).
TEST(FleetDirectory, AKeptIdMovesOnlyOnceItsServerLetsGoOrDies) {
  TempDir dir("directory");
  const std::string db = (dir / "plimo-server.db").string();
  struct Case {
    const char* what;
    bool pcLeaves;
    double bSilence;  // B's time passing meanwhile; A's clock stands still
  } cases[] = {
      {"its PC leaves A", true, 1},
      {"A stops beating", false, PresenceStore::kStaleAfter + PresenceStore::kHeartbeat + 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(db);
    ServerRig a(named("a"), SigningKey::generate(), openStore(db));
    ServerRig b(named("b"), SigningKey::generate(), openStore(db));
    RigClient onA(a, RigClient::udp(40001));
    std::string id = onA.registerAs();
    ASSERT_FALSE(id.empty());
    ASSERT_EQ(onA.say("PIN " + id + " secret-1").at(0), "PIN OK " + id);

    RigClient onB(b, RigClient::udp(40002));
    ASSERT_FALSE(onB.registerAs().empty());
    EXPECT_EQ(onB.say("PIN " + id + " secret-1"), std::vector<std::string>{"ERR PIN NOT_READY"});
    if (c.pcLeaves) onA.say("BYE");
    b.loop.advance(c.bSilence);
    auto moved = onB.say("PIN " + id + " secret-1");
    ASSERT_FALSE(moved.empty());
    EXPECT_EQ(moved[0], "PIN OK " + id);
  }
}
