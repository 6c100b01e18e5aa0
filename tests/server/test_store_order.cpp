// The database writes as they run on the store thread: answered only once
// the write is done, never to a client that is gone by then. The store's work
// runs one loop turn later here (`deferred`), as a thread's result would.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>

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
  EXPECT_FALSE(*p.rig.store->pinHash(p.helperID));
  p.rig.loop.runPending();
  EXPECT_TRUE(*p.rig.store->pinHash(p.helperID));
  EXPECT_EQ(p.helper.lines(), (std::vector<std::string>{"PIN OK " + p.helperID, "ID " + p.helperID + " pinned"}));

  // The record is written, then its end and the request: in that order,
  // before the helper hears of it, so its report finds the record asking.
  p.session(10);
  EXPECT_TRUE(p.helper.lines().empty());
  p.rig.loop.runPending();
  EXPECT_EQ(*p.rig.store->askedLength(1, p.helperID), 10);
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
  EXPECT_TRUE(*p.rig.store->pinHash(p.helperID));
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

// Every REPORT line queued a write, also one over its budget or no report at
// all, and a full queue made the loop wait for room: while another process
// held the database, a PIN waiting for it and 6,000 REPORT lines stopped
// PONGs and relaying for everyone. Here nothing is written until runPending.
TEST(StoreOrder, ReportLinesWhileTheDatabaseIsLockedCannotStallTheLoop) {
  Partners p;
  ASSERT_FALSE(p.helperID.empty() || p.helpedID.empty());
  const std::string secret(64, 'f');
  p.helper.say("PIN " + p.helperID + " " + secret);
  p.rig.loop.runPending();
  ASSERT_EQ(p.helper.lines().size(), 2u);  // PIN OK, ID pinned
  RigClient pinner(p.rig, RigClient::udp(40003));
  const std::string pinnerID = pinner.registerAs();
  EXPECT_TRUE(pinner.say("PIN " + pinnerID + " " + secret).empty());
  // Clients enough to take the clients' whole share of the queue, a hundred
  // to an address.
  std::vector<std::unique_ptr<RigClient>> flooders;
  for (uint32_t i = 0; i < StoreWorker::kClientShare / StoreWorker::kClientJobs + 10; ++i) {
    Endpoint at = RigClient::udp(uint16_t(41000 + i % 100), 0x0A000000 + i / 100);
    flooders.push_back(std::make_unique<RigClient>(p.rig, at));
    ASSERT_FALSE(flooders.back()->registerAs().empty()) << i;
  }
  const std::string notAReport = base64("R1\n1");
  size_t unanswered = 0;
  for (int i = 0; i < 6000; ++i) {
    char msgID[9];
    std::snprintf(msgID, sizeof msgID, "%08x", i);
    RigClient& flooder = *flooders[size_t(i) % flooders.size()];
    auto answer = flooder.say(reportLines(msgID, i % 3 ? report("1") : notAReport)[0]);
    unanswered += answer.empty();
    if (!answer.empty()) {
      EXPECT_EQ(answer, std::vector<std::string>{i % 3 ? "ERR REPORT_NOT_READY" : "ERR REPORT_BAD"}) << i;
    }
  }
  EXPECT_EQ(unanswered + 1, StoreWorker::kClientShare);
  EXPECT_EQ(p.rig.server.queuedWrites(), StoreWorker::kClientShare);
  RigClient late(p.rig, RigClient::udp(40005));
  std::string lateID = late.registerAs();
  EXPECT_EQ(late.say("PIN " + lateID + " " + secret), std::vector<std::string>{"ERR PIN NOT_READY"});
  // A kept ID stays kept, and its client is told so.
  EXPECT_EQ(p.helper.say("UNPIN"), std::vector<std::string>{"ID " + p.helperID + " pinned"});

  // The loop goes on: PONGs, introductions, relaying, and the records of
  // the sessions it introduced are queued all the same.
  auto pong = p.helped.say("PING 7");
  ASSERT_EQ(pong.size(), 1u);
  EXPECT_EQ(pong[0].rfind("PONG 7 ", 0), 0u) << pong[0];
  p.helper.say("CONNECT " + p.helpedID + " 192.168.1.20 40000 " + kKey);
  p.helper.say("SESSION START " + p.helpedID + " V");
  Bytes packet{0x14, 0xC0, 1, 2, 3};
  p.rig.server.receive(p.helper.endpoint, packet);
  EXPECT_EQ(p.helped.received().back(), packet);
  p.helped.say("SESSION END");  // (advancing the clock would run the queue)
  EXPECT_EQ(p.rig.server.queuedWrites(), StoreWorker::kClientShare + 2);

  // The lock goes: everything queued is written and answered.
  p.rig.loop.runPending();
  EXPECT_EQ(p.rig.server.queuedWrites(), 0u);
  ASSERT_TRUE(p.rig.store->usage(1));
  EXPECT_EQ(p.rig.store->usage(1)->seconds, 0);
  EXPECT_EQ(*p.rig.store->askedLength(1, p.helperID), 0);
  EXPECT_EQ(pinner.lines(), (std::vector<std::string>{"PIN OK " + pinnerID, "ID " + pinnerID + " pinned"}));
  EXPECT_EQ(p.helper.lines().back().rfind("REPORTASK 1 ", 0), 0u);
  EXPECT_TRUE(*p.rig.store->pinHash(p.helperID));
  EXPECT_EQ(flooders[0]->lines().size(), StoreWorker::kClientJobs);
}

// Records past the queue's size are kept, in order, however long the
// database is held; clients' work waits for room instead.
TEST(StoreOrder, UsageRecordsPastTheQueuesSizeWaitInMemoryAndAreAllWritten) {
  ManualLoop loop;
  auto store = memoryStore();
  std::vector<std::string> logs;
  StoreWorker writes(loop, *store, StoreWorker::Mode::deferred, [&](const std::string& t) { logs.push_back(t); });
  const size_t records = StoreWorker::kMaxQueued + 100;
  for (size_t i = 0; i < records; ++i) writes.startUsage("111222333", "222333444", "V", int64_t(i));
  EXPECT_EQ(writes.queued(), records);
  EXPECT_EQ(logs.size(), 1u);
  bool ran = false;
  EXPECT_FALSE(writes.submitFor(7, [](ServerStore&) { return 0; }, [&](int) { ran = true; }));
  loop.runPending();
  EXPECT_FALSE(ran);
  EXPECT_EQ(store->usageCount(), int64_t(records));
  EXPECT_EQ(store->usage(int64_t(records))->started, int64_t(records - 1));
  EXPECT_TRUE(writes.submitFor(7, [](ServerStore&) { return 0; }, [&](int) { ran = true; }));
  loop.runPending();
  EXPECT_TRUE(ran);
}
