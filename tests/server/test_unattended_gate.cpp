// Who the server introduces to a PC with unattended access, and the daily
// warning while nobody can be.

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <functional>

#include "server/BudgetedLog.h"
#include "server/Registration.h"
#include "server/ServerRig.h"
#include "server/StoreEngines.h"
#include "server/UnattendedGate.h"
#include "testkit/TempDir.h"

using namespace plimo;
using namespace plimo::testkit;

namespace {

const std::string kKey(128, 'B');

std::string helloLine(const std::string& id, bool unattended) {
  return "HELLO " + id + " 192.168.7.7 41000 " + kKey + " 127.0.0.1 " + (unattended ? "1" : "0");
}

size_t count(const std::vector<std::string>& logs, const std::string& part) {
  return size_t(std::count_if(logs.begin(), logs.end(), [&](auto& l) { return l.find(part) != std::string::npos; }));
}

}  // namespace

TEST(UnattendedGate, OnlyAKeptTrustedHelperReachesAnUnattendedPC) {
  struct Case {
    const char* what;
    bool unattended;
    bool trusted;
    bool kept;
    bool introduced;
  } cases[] = {
      {"attended PC, stranger", false, false, false, true},
      {"unattended PC, stranger", true, false, false, false},
      {"unattended PC, kept but not trusted", true, false, true, false},
      {"unattended PC, trusted but not kept in this session", true, true, false, false},
      {"unattended PC, kept and trusted", true, true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ServerRig rig;
    RigClient pc(rig, RigClient::udp(40001));
    RigClient helper(rig, RigClient::udp(40002, 0x0A000009));
    std::string pcID = pc.registerAs();
    pc.say(helloLine(pcID, c.unattended));
    std::string helperID = helper.registerAs();
    if (c.kept) {
      ASSERT_EQ(helper.say("PIN " + helperID + " " + std::string(64, 'C'))[0], "PIN OK " + helperID);
    }
    if (c.trusted) {
      // Kept by its secret from another session (or server) when not by this one.
      if (!c.kept) {
        ASSERT_TRUE(rig.store->setPin(helperID, Registration::secretHash("elsewhere"), 1));
      }
      auto kept = rig.store->trustHelper(helperID, "Anna", 1);
      ASSERT_TRUE(kept && *kept);
    }

    auto answer = helper.say("CONNECT " + pcID + " 10.0.0.9 5 " + std::string(128, 'A'));
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_EQ(answer[0].rfind("PEER ", 0) == 0, c.introduced) << answer[0];
    EXPECT_EQ(pc.lines().size(), c.introduced ? 1u : 0u);
    if (!c.introduced) {
      // Exactly what an ID that is not online gets.
      EXPECT_EQ(answer[0], "ERR UNKNOWN_ID");
      EXPECT_TRUE(rig.logged("Refused ID " + helperID + " from 10.0.0.9:40002 asking for ID " + pcID));
    }
    if (c.unattended && c.introduced) {
      EXPECT_TRUE(rig.logged("as trusted helper Anna"));
    }
  }
}

TEST(UnattendedGate, RefusalsCountAsUnknownIDsAndTheirLogLinesAreBudgeted) {
  ServerRig rig;
  RigClient pc(rig, RigClient::udp(40001));
  std::string pcID = pc.registerAs();
  pc.say(helloLine(pcID, true));
  std::vector<std::string> answers;
  for (int i = 0; i < 100; ++i) {
    RigClient prober(rig, RigClient::udp(uint16_t(41000 + i), 0x0A000009));
    prober.registerAs();
    for (auto& line : prober.say("CONNECT " + pcID + " 1.2.3.4 1 " + kKey)) answers.push_back(line);
  }
  EXPECT_EQ(std::count(answers.begin(), answers.end(), "ERR UNKNOWN_ID"), 60);
  EXPECT_EQ(std::count(answers.begin(), answers.end(), "ERR RATE_LIMIT"), 40);
  EXPECT_LE(count(rig.logs, "Refused ID "), size_t(BudgetedLog::kLinesPerAddress.burst));
  EXPECT_TRUE(pc.lines().empty());
}

TEST(UnattendedGate, WarnsOnceADayWhileNoHelperIsTrusted) {
  ServerRig rig;
  RigClient pc(rig, RigClient::udp(40001));
  std::string id = pc.registerAs();
  const std::string warning = "No helper is trusted, so PCs with unattended access";
  EXPECT_EQ(count(rig.logs, warning), 0u);  // none announced yet
  // Schedule: seconds from now, then how many warnings there are by then.
  struct Step {
    double advance;
    size_t warnings;
  } steps[] = {{0, 1}, {20, 1}, {UnattendedGate::kWarningPeriod - 40, 1}, {30, 2}, {3600, 2}};
  // The PC says HELLO every 20 s, as clients do, so its session lives.
  auto live = [&](double seconds) {
    for (double left = seconds; left > 0; left -= 20) {
      rig.loop.advance(std::min(left, 20.0));
      pc.say(helloLine(id, true));
    }
    pc.say(helloLine(id, true));
  };
  for (const Step& s : steps) {
    live(s.advance);
    EXPECT_EQ(count(rig.logs, warning), s.warnings) << "after " << rig.loop.now();
  }
  // With a helper trusted, the next day passes without one; once its trust
  // is suspended, the day after has one again.
  ASSERT_TRUE(rig.store->setPin("123456789", Bytes{1}, 1));
  ASSERT_TRUE(rig.store->trustHelper("123456789", "", 1));
  live(UnattendedGate::kWarningPeriod);
  EXPECT_EQ(count(rig.logs, warning), 2u);
  ASSERT_TRUE(rig.store->removePin("123456789"));
  live(UnattendedGate::kWarningPeriod);
  EXPECT_EQ(count(rig.logs, warning), 3u);
}

// A trusted helper gives up its ID; another PC behind the same address is
// handed that ID by HELLO and keeps it with a secret of its own.
TEST(UnattendedGate, AnIdReclaimedByAnotherSecretIsNotTrusted) {
  ServerRig rig;
  RigClient pc(rig, RigClient::udp(40001));
  std::string pcID = pc.registerAs();
  pc.say(helloLine(pcID, true));
  constexpr uint32_t kOffice = 0x0A000009;
  RigClient helper(rig, RigClient::udp(40002, kOffice));
  std::string id = helper.registerAs();
  ASSERT_EQ(helper.say("PIN " + id + " " + std::string(64, 'C'))[0], "PIN OK " + id);
  ASSERT_TRUE(rig.store->trustHelper(id, "Anna", 1));
  helper.say("UNPIN");
  helper.say("BYE");

  RigClient other(rig, RigClient::udp(40003, kOffice));
  ASSERT_EQ(other.registerAs(id), id);
  ASSERT_EQ(other.say("PIN " + id + " " + std::string(64, 'D'))[0], "PIN OK " + id);
  EXPECT_EQ(other.say("CONNECT " + pcID + " 10.0.0.9 5 " + kKey), std::vector<std::string>{"ERR UNKNOWN_ID"});
  EXPECT_TRUE(pc.lines().empty());
  EXPECT_TRUE(rig.logged("Refused ID " + id + " from 10.0.0.9:40003 asking for ID " + pcID +
                         ", which has unattended access: its trust is suspended"));
}

// The states of one entry as its ID's pin comes and goes: trust stays with
// the secret it was given to, and once that pin went, only trusting again
// brings it back.
struct TrustedHelpersOnEveryStore : testkit::StoreEngineTest {};
PLIMO_ON_EVERY_STORE(TrustedHelpersOnEveryStore);

TEST_P(TrustedHelpersOnEveryStore, FollowThePinTheyWereTrustedWith) {
  const std::string id = "123456789";
  const Bytes own = Registration::secretHash("own"), other = Registration::secretHash("other");
  auto kept = store->trustHelper(id, "Anna", 10);
  ASSERT_TRUE(kept);
  EXPECT_FALSE(*kept);  // nobody keeps it: nothing to trust
  EXPECT_FALSE(*store->trustedHelper(id));

  struct Step {
    const char* what;
    std::function<bool()> change;
    bool kept, suspended;
    int64_t added;
  } steps[] = {
      {"trusted while kept", [&] { return store->setPin(id, own, 1) && store->trustHelper(id, "Anna", 20); },
       true, false, 20},
      {"renamed", [&] { return store->trustHelper(id, "Anna B.", 30).ok(); }, true, false, 20},
      {"kept again by its own secret (a restart)", [&] { return store->setPin(id, own, 40).ok(); }, true, false, 20},
      {"given up", [&] { return store->removePin(id).ok(); }, false, true, 20},
      {"kept again, even by the same secret", [&] { return store->setPin(id, own, 50).ok(); }, true, true, 20},
      {"trusted again", [&] { return store->trustHelper(id, "Anna B.", 60).ok(); }, true, false, 60},
      {"its secret replaced", [&] { return store->setPin(id, other, 70).ok(); }, true, true, 60},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    ASSERT_TRUE(step.change());
    auto h = store->trustedHelper(id).valueOr(std::nullopt);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->kept, step.kept);
    EXPECT_EQ(h->suspended, step.suspended);
    EXPECT_EQ(h->added, step.added);
    EXPECT_EQ(*store->trustedHelperCount(), step.suspended ? 0 : 1);
    EXPECT_EQ(store->trustedHelpers()->at(0).suspended, step.suspended);
  }
  EXPECT_EQ((*store->trustedHelper(id))->name, "Anna B.");
}

// A database from before trust was bound to a secret: entries bind to the
// pins in place when it is first opened, so the company's helpers keep
// getting in; one whose ID nobody keeps starts suspended.
TEST(TrustedHelpers, EntriesFromBeforeBindToThePinsInPlaceWhenTheDatabaseIsOpened) {
  TempDir dir("old-trust");
  const std::string path = (dir / "db").string();
  const Bytes hash = Registration::secretHash("own");
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE pins (id TEXT PRIMARY KEY, secret_hash BLOB NOT NULL, created INTEGER NOT "
                           "NULL, last_seen INTEGER NOT NULL);"
                           "CREATE TABLE trusted_helpers (id TEXT PRIMARY KEY, name TEXT NOT NULL, added INTEGER NOT "
                           "NULL);"
                           "INSERT INTO trusted_helpers VALUES ('111222333', 'Anna', 5), ('444555666', 'Bea', 6);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_stmt* pin = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO pins VALUES ('111222333', ?1, 1, 1)", -1, &pin, nullptr), SQLITE_OK);
    sqlite3_bind_blob(pin, 1, hash.data(), int(hash.size()), SQLITE_STATIC);
    EXPECT_EQ(sqlite3_step(pin), SQLITE_DONE);
    sqlite3_finalize(pin);
    sqlite3_close(db);
  }
  for (int open = 0; open < 2; ++open) {  // the second open finds it bound
    SCOPED_TRACE(open);
    auto store = openStore(path);
    ASSERT_TRUE(store);
    auto helpers = store->trustedHelpers();
    ASSERT_TRUE(helpers);
    ASSERT_EQ(helpers->size(), 2u);
    EXPECT_FALSE(helpers->at(0).suspended);
    EXPECT_EQ(helpers->at(0).added, 5);
    EXPECT_TRUE(helpers->at(1).suspended);
    EXPECT_FALSE(helpers->at(1).kept);
  }
  // And from then on the entry follows its pin.
  auto store = openStore(path);
  ASSERT_TRUE(store->removePin("111222333"));
  ASSERT_TRUE(store->setPin("111222333", hash, 9));
  EXPECT_TRUE((*store->trustedHelper("111222333"))->suspended);
}
