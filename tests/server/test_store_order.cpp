// The database writes as they run on the store thread: answered only once
// the write is done, never to a client that is gone by then. The store's work
// runs one loop turn later here (`deferred`), as a thread's result would.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "server/ReportLines.h"
#include "server/Reports.h"
#include "server/ServerRig.h"

using namespace plimo;
using namespace plimo::testkit;

namespace {

const std::string kKey(128, 'A');

RelayConfig deferredWrites() {
  RelayConfig config = testConfig();
  config.storeWork = StoreWorker::Mode::deferred;
  return config;
}

struct Partners {
  ServerRig rig{deferredWrites()};
  RigClient helper{rig, RigClient::udp(40001)};
  RigClient helped{rig, RigClient::udp(40002)};
  std::string helperID = helper.registerAs();
  std::string helpedID = helped.registerAs();

  // A partner session of `seconds`, ended by the helped side.
  void session(double seconds) {
    helper.say("CONNECT " + helpedID + " 192.168.1.20 40000 " + kKey);
    helper.say("SESSION START " + helpedID + " V");
    rig.loop.advance(seconds);
    helped.say("SESSION END");
  }
};

std::string report(const std::string& ref) {
  return base64("R1\n" + ref + "\n1700000000\n1700000600\n600\n222333444\nFront desk PC\nAnna\nACME\n"
                "anna@acme.test\n1\n15\nPrinter fixed.");
}

}  // namespace

TEST(StoreOrder, PinReportAskAndReportAreAnsweredOnlyOnceTheirWritesAreDone) {
  Partners p;
  ASSERT_FALSE(p.helperID.empty() || p.helpedID.empty());

  EXPECT_TRUE(p.helper.say("PIN " + p.helperID + " " + std::string(64, 'f')).empty());
  EXPECT_FALSE(p.rig.store->pinHash(p.helperID));
  p.rig.loop.runPending();
  EXPECT_TRUE(p.rig.store->pinHash(p.helperID));
  EXPECT_EQ(p.helper.lines(), (std::vector<std::string>{"PIN OK " + p.helperID, "ID " + p.helperID + " pinned"}));

  // The record is written, then its end and the request: in that order,
  // before the helper hears of it, so its report finds the record asking.
  p.session(10);
  EXPECT_TRUE(p.helper.lines().empty());
  p.rig.loop.runPending();
  EXPECT_EQ(p.rig.store->askedLength(1, p.helperID), 10);
  auto ask = p.helper.lines();
  ASSERT_EQ(ask.size(), 1u);
  EXPECT_EQ(ask[0].rfind("REPORTASK 1 ", 0), 0u) << ask[0];

  for (const std::string& line : reportLines("0a1b", report("1"))) EXPECT_TRUE(p.helper.say(line).empty());
  EXPECT_EQ(p.rig.store->reportCount(), 0);
  p.rig.loop.runPending();
  EXPECT_EQ(p.rig.store->reportCount(), 1);
  EXPECT_EQ(p.helper.lines(), std::vector<std::string>{"REPORT OK 0a1b"});
}

TEST(StoreOrder, AnAnswerForAClientThatLeftMeanwhileReachesNoOne) {
  Partners p;
  ASSERT_FALSE(p.helperID.empty() || p.helpedID.empty());
  // The helper's PIN and its session's end are written after it left, and
  // another client has its address by then.
  p.helper.say("PIN " + p.helperID + " " + std::string(64, 'f'));
  p.session(10);
  p.helper.say("BYE");
  RigClient next(p.rig, p.helper.endpoint);
  std::string nextID = next.registerAs();
  ASSERT_FALSE(nextID.empty());
  next.lines();
  p.rig.loop.runPending();
  EXPECT_TRUE(next.lines().empty());
  // What they stored is kept: the pin for its secret, the billing record.
  EXPECT_TRUE(p.rig.store->pinHash(p.helperID));
  ASSERT_TRUE(p.rig.store->usage(1));
  EXPECT_EQ(p.rig.store->usage(1)->seconds, 10);
  // A report finished just before its sender left gets no answer either.
  next.say("CONNECT " + p.helpedID + " 192.168.1.20 40000 " + kKey);
  next.say("SESSION START " + p.helpedID + " V");
  p.helped.say("SESSION END");
  p.rig.loop.runPending();
  ASSERT_EQ(next.lines().size(), 1u);  // REPORTASK 2
  for (const std::string& line : reportLines("0a1c", report("2"))) next.say(line);
  next.say("BYE");
  p.rig.loop.runPending();
  EXPECT_TRUE(next.lines().empty());
  EXPECT_EQ(p.rig.store->reportCount(), 1);
}

// A client reclaiming its kept ID sends PIN and at once its CONNECT: had the
// CONNECT overtaken the PIN's write, it would have asked as its fresh ID (a
// trusted helper refused as a stranger).
TEST(StoreOrder, LinesAfterAPinWaitForItsAnswerButPingsDoNot) {
  Partners p;
  ASSERT_FALSE(p.helperID.empty() || p.helpedID.empty());
  const std::string secret(64, 'f');
  p.helper.say("PIN " + p.helperID + " " + secret);
  p.rig.loop.runPending();
  p.helper.say("BYE");

  RigClient back(p.rig, RigClient::udp(40003));
  std::string fresh = back.registerAs();
  ASSERT_FALSE(fresh.empty());
  back.say("PIN " + p.helperID + " " + secret);
  back.say("CONNECT " + p.helpedID + " 192.168.1.21 40000 " + kKey);
  auto pong = back.say("PING 7");
  ASSERT_EQ(pong.size(), 1u);
  EXPECT_EQ(pong[0].rfind("PONG 7 ", 0), 0u) << pong[0];
  p.helped.lines();
  p.rig.loop.runPending();
  auto answers = back.lines();
  ASSERT_GE(answers.size(), 3u);
  EXPECT_EQ(answers[0], "PIN OK " + p.helperID);
  EXPECT_NE(answers[2].find(" " + p.helpedID + " "), std::string::npos) << answers[2];
  // The helped PC is told of the kept ID, not the fresh one.
  auto told = p.helped.lines();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_NE(told[0].find(" " + p.helperID + " "), std::string::npos) << told[0];
}

// Reports were counted against the minute's budget only when their answer
// came back: a burst queued a write for every one of them.
TEST(StoreOrder, AReportBurstQueuesNoMoreWritesThanTheBudget) {
  Partners p;
  ASSERT_FALSE(p.helperID.empty());
  for (int i = 0; i < Reports::kPerMinute + 10; ++i) {
    char msgID[9];
    std::snprintf(msgID, sizeof msgID, "%08x", i);
    EXPECT_TRUE(p.helper.say(reportLines(msgID, report("1"))[0]).empty());
  }
  p.rig.loop.runPending();
  auto answers = p.helper.lines();
  ASSERT_EQ(answers.size(), size_t(Reports::kPerMinute + 10));
  EXPECT_EQ(std::count(answers.begin(), answers.end(), "ERR REPORT_RATE"), 10);
  // Refused ones gave their place back: the next minute's budget is whole.
  p.rig.loop.advance(60);
  EXPECT_EQ(p.helper.say(reportLines("0badcafe", report("1"))[0]), std::vector<std::string>{});
  p.rig.loop.runPending();
  EXPECT_EQ(p.helper.lines(), std::vector<std::string>{"ERR REPORT_BAD"});
}
