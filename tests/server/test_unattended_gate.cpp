// Who the server introduces to a PC with unattended access, and the daily
// warning while nobody can be.

#include <gtest/gtest.h>

#include <algorithm>

#include "server/ServerRig.h"
#include "server/UnattendedGate.h"

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
      {"unattended PC, trusted but not kept", true, true, false, false},
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
      ASSERT_TRUE(rig.store->trustHelper(helperID, "Anna", 1));
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
  EXPECT_LE(count(rig.logs, "Refused ID "), size_t(RelayServer::kLogLinesPerAddress.burst));
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
  // With a helper trusted, the next day passes without one.
  ASSERT_TRUE(rig.store->trustHelper("123456789", "", 1));
  live(UnattendedGate::kWarningPeriod);
  EXPECT_EQ(count(rig.logs, warning), 2u);
}
