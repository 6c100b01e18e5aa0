// Sessions, usage records and reports claimed by clients the server never
// introduced to each other.

#include <gtest/gtest.h>

#include "server/Rendezvous.h"
#include "server/ReportLines.h"
#include "server/ServerRig.h"

using namespace plimo;
using namespace plimo::testkit;

namespace {

const std::string kKey(128, 'A');

std::vector<std::string> one(const std::string& line) { return {line}; }

struct Three {
  ServerRig rig;
  RigClient a{rig, RigClient::udp(40001)};
  RigClient b{rig, RigClient::udp(40002)};
  RigClient stranger{rig, RigClient::udp(40003, 0x0A000009)};
  std::string idA = a.registerAs();
  std::string idB = b.registerAs();
  std::string idS = stranger.registerAs();

  void introduce() {
    a.say("CONNECT " + idB + " 192.168.1.20 40000 " + kKey);
    b.lines();
  }
  // Pieces a real client sends relayed to the other of its pair arrive there.
  bool relays(RigClient& from, RigClient& to) {
    to.received();
    rig.server.receive(from.endpoint, Bytes{0x14, 0xC0, 1});
    return to.received().size() == 1;
  }
};

std::string reportLine(const std::string& msgID, const std::string& ref, const std::string& helped, int minutes) {
  std::string text = "R1\n" + ref + "\n1700000000\n1700000600\n600\n" + helped + "\nPC\nAnna\nACME\n-\n1\n" +
                     std::to_string(minutes) + "\nFixed.";
  return reportLines(msgID, base64(text))[0];
}

}  // namespace

TEST(ForgedSessions, SessionStartWithoutAnIntroductionRecordsNothing) {
  Three t;
  // The stranger names idle IDs in both roles.
  t.stranger.say("SESSION START " + t.idA + " V");
  t.stranger.say("SESSION START " + t.idB + " H");
  EXPECT_EQ(t.rig.store->usageCount(), 0);
  EXPECT_FALSE(t.relays(t.stranger, t.a));
  EXPECT_FALSE(t.relays(t.stranger, t.b));
  // Nobody is kept busy: a asks for b and they are introduced.
  auto toA = t.a.say("CONNECT " + t.idB + " 192.168.1.20 40000 " + kKey);
  ASSERT_EQ(toA.size(), 1u);
  EXPECT_EQ(toA[0].rfind("PEER ", 0), 0u);
  t.b.lines();

  // Each side only in the role it has: a asked, so it is the helper.
  t.a.say("SESSION START " + t.idB + " H");
  t.b.say("SESSION START " + t.idA + " V");
  EXPECT_EQ(t.rig.store->usageCount(), 0);
  // The stranger cannot join or end the pair's session.
  t.a.say("SESSION START " + t.idB + " V");
  t.stranger.say("SESSION START " + t.idB + " V");
  t.stranger.say("SESSION END");
  EXPECT_EQ(t.rig.store->usageCount(), 1);
  EXPECT_EQ(t.rig.store->usage(1)->viewerID, t.idA);
  EXPECT_TRUE(t.relays(t.a, t.b));
  EXPECT_FALSE(t.relays(t.stranger, t.b));

  // The length is the server's own measure, whatever a client claims.
  t.rig.loop.advance(30);
  t.b.say("HELLO 0");
  t.a.say("SESSION END 99999");
  EXPECT_EQ(*t.rig.store->usage(1)->seconds, 30);
  // Ended: a SESSION START without a new introduction is nothing.
  t.a.say("SESSION START " + t.idB + " V");
  EXPECT_EQ(t.rig.store->usageCount(), 1);
}

TEST(ForgedSessions, ReportOnASessionTheServerNeverAskedAboutIsRefused) {
  Three t;
  EXPECT_EQ(t.stranger.say(reportLine("0a1b2c3d", "999", t.idB, 100000)), one("ERR REPORT_BAD"));
  EXPECT_EQ(t.rig.store->reportCount(), 0);

  t.introduce();
  t.a.say("SESSION START " + t.idB + " V");
  t.b.say("SESSION START " + t.idA + " H");
  t.rig.loop.advance(40);
  t.b.say("HELLO 0");
  t.a.say("HELLO 0");
  t.a.lines();
  t.b.say("SESSION END");
  auto ask = t.a.lines();
  ASSERT_EQ(ask.size(), 1u);
  ASSERT_EQ(ask[0].rfind("REPORTASK 1 ", 0), 0u);
  // Only the helper of that record, only on that record.
  EXPECT_EQ(t.b.say(reportLine("0a1b2c3d", "1", t.idB, 15)), one("ERR REPORT_BAD"));
  EXPECT_EQ(t.stranger.say(reportLine("0a1b2c3d", "1", t.idB, 15)), one("ERR REPORT_BAD"));
  EXPECT_EQ(t.a.say(reportLine("0a1b2c3d", "2", t.idB, 15)), one("ERR REPORT_BAD"));
  EXPECT_EQ(t.a.say(reportLine("0a1b2c3d", "1", t.idB, 100000)), one("REPORT OK 0a1b2c3d"));
  // The claimed minutes are kept beside the server's measured time.
  auto stored = t.rig.store->report(1);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->minutes, 100000);
  EXPECT_EQ(stored->measuredSeconds, 40);
  // A resend is confirmed again; a second report on the record is not taken.
  EXPECT_EQ(t.a.say(reportLine("0a1b2c3d", "1", t.idB, 100000)), one("REPORT OK 0a1b2c3d"));
  EXPECT_EQ(t.a.say(reportLine("11111111", "1", t.idB, 5)), one("ERR REPORT_BAD"));
  EXPECT_EQ(t.rig.store->reportCount(), 1);
}

TEST(ForgedSessions, HalfSentReportsDoNotHoldTheirSlot) {
  Three t;
  std::string piece = "REPORT 0a1b2c3d 0 2 QUJD";
  EXPECT_TRUE(t.a.say(piece).empty());
  // A client sends all pieces at once; half a report after a minute is abandoned.
  for (int i = 0; i < 3; ++i) {
    t.rig.loop.advance(25);
    t.a.say("HELLO 0");
  }
  t.a.lines();
  // The missing piece alone is no report now.
  EXPECT_TRUE(t.a.say("REPORT 0a1b2c3d 1 2 QUJD").empty());
}

TEST(ForgedSessions, ConnectFloodToAKnownIDIsRateLimited) {
  Three t;
  int peers = 0;
  std::vector<std::string> last;
  for (int i = 0; i < 30; ++i) {
    last = t.stranger.say("CONNECT " + t.idB + " 192.168.1.20 40000 " + kKey);
    for (auto& line : t.b.lines()) peers += line.rfind("PEER ", 0) == 0;
  }
  EXPECT_LE(peers, 5);
  EXPECT_EQ(last, one("ERR RATE_LIMIT"));
  // A minute later the client may ask again.
  for (int i = 0; i < 3; ++i) {
    t.rig.loop.advance(20);
    t.stranger.say("HELLO 0");
    t.b.say("HELLO 0");
    t.a.say("HELLO 0");
  }
  EXPECT_EQ(t.stranger.say("CONNECT " + t.idB + " 192.168.1.20 40000 " + kKey)[0].rfind("PEER ", 0), 0u);
  // Other clients were never held back.
  EXPECT_EQ(t.a.say("CONNECT " + t.idB + " 192.168.1.20 40000 " + kKey)[0].rfind("PEER ", 0), 0u);
}
