// The helper's billing reports through the model: the server's asks reach
// the form, saved reports wait in PendingReports.txt and go to the server
// until it confirms them, on the schedule and with the answers the server
// gives.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <random>
#include <thread>

#include "ModelRig.h"
#include "app/SessionReports.h"
#include "app/TerminalLines.h"
#include "app/TerminalReportForm.h"
#include "protocol/wire/ReportPayload.h"

using namespace plimo;
using testkit::LinkFixture;
using testkit::readFile;
using testkit::writeFile;

namespace {

// Records what it is asked and answers when the test says so.
struct FakeForm : ReportForm {
  std::vector<ReportDraft> opened;
  Done done;
  void open(ReportDraft draft, Done fn) override {
    opened.push_back(std::move(draft));
    done = std::move(fn);
  }
  void answer(End end, const std::string& payload = "") { std::exchange(done, nullptr)(end, payload); }
};

struct Reports : LinkFixture {
  FakeForm form;

  SessionReports& reports() { return model->reports(); }
  void online() {
    welcome();
    say("ID 123456789 3600");
  }
  // The REPORT lines the client sent since the last call.
  std::vector<std::string> reportLines() {
    std::vector<std::string> out;
    for (auto& line : lines()) {
      if (line.rfind("REPORT ", 0) == 0) out.push_back(line);
    }
    return out;
  }
  std::string log() { return readFile(dir / "Plimo.log"); }
  bool exists(const char* name) { return std::filesystem::exists(dir / name); }
};

const std::string kAsk = "REPORTASK 17 1800000000 1800000960 960 222333444";

}  // namespace

TEST_F(Reports, AReportMadeOfflineGoesOutAfterRegistrationOnceAndOkRemovesIt) {
  start();
  reports().add("QUJD");
  EXPECT_EQ(SessionReports::parseQueue(readFile(dir / "PendingReports.txt")), reports().items());
  loop.advance(5);
  welcome();
  loop.advance(3);
  EXPECT_TRUE(reportLines().empty());  // a secure session but no ID yet
  say("ID 123456789 3600");
  loop.advance(1);
  std::string msgID = reports().items().at(0).msgID;
  EXPECT_EQ(reportLines(), std::vector<std::string>{"REPORT " + msgID + " 0 1 QUJD"});
  loop.advance(5);
  EXPECT_TRUE(reportLines().empty());
  // A confirmation of another report changes nothing; the case does not matter.
  say("REPORT OK ffffffff");
  EXPECT_EQ(reports().items().size(), 1u);
  std::string upper = msgID;
  for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
  say("REPORT OK " + upper);
  EXPECT_TRUE(reports().items().empty());
  EXPECT_FALSE(exists("PendingReports.txt"));
  EXPECT_NE(log().find("Session report: stored on the server"), std::string::npos);
  loop.advance(200);
  EXPECT_TRUE(reportLines().empty());
}

TEST_F(Reports, UnansweredSendsFollowTheResendSchedule) {
  start();
  online();
  reports().add(std::string(801, 'A'));
  std::vector<double> sent;
  double t0 = loop.now();
  for (int second = 0; second < 200; ++second) {
    loop.advance(1);
    if (second % 10 == 0) say("ID 123456789 3600");  // the server stays in touch
    auto got = reportLines();
    if (got.empty()) continue;
    // 801 characters: two pieces, 0 and 1 of 2.
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].substr(0, 20), "REPORT " + reports().items()[0].msgID + " 0 2 ");
    EXPECT_EQ(got[1], "REPORT " + reports().items()[0].msgID + " 1 2 A");
    sent.push_back(loop.now() - t0);
  }
  // First send, again at 6 and 15 s, given up at 30 s, a new round 60 s later.
  EXPECT_EQ(sent, (std::vector<double>{1, 7, 16, 91, 97, 106, 181, 187, 196}));
}

TEST_F(Reports, ServerAnswersKeepOrDropTheReport) {
  struct Case {
    std::string answer;
    bool kept;
    double nextSendAfter;  // seconds until the next send, 0 for none within 100 s
    std::string logged;
  };
  const Case cases[] = {
      {"ERR REPORT_RATE", true, 60, "Session report: the server cannot take it yet (REPORT_RATE)"},
      {"ERR REPORT_NOT_READY", true, 60, "Session report: the server cannot take it yet (REPORT_NOT_READY)"},
      {"ERR REPORT_BAD", false, 1, "Session report: not accepted by the server (REPORT_BAD); dropped"},
      {"ERR REPORT_WHATEVER", false, 1, "Session report: not accepted by the server (REPORT_WHATEVER); dropped"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    std::filesystem::remove(dir / "PendingReports.txt");
    start();
    online();
    reports().add("Rmlyc3Q=");
    reports().add("U2Vjb25k");
    loop.advance(1);
    ASSERT_EQ(reportLines().size(), 1u);
    say(c.answer);
    EXPECT_NE(log().find(c.logged), std::string::npos);
    EXPECT_EQ(reports().items().size(), c.kept ? 2u : 1u);
    EXPECT_EQ(SessionReports::parseQueue(readFile(dir / "PendingReports.txt")), reports().items());
    double waited = 0;
    while (reportLines().empty() && waited < 100) loop.advance(1), waited += 1;
    EXPECT_EQ(waited, c.nextSendAfter);
    reportLines();
    model.reset();
  }
}

TEST_F(Reports, QueueFileSkipsMalformedLinesAndKeepsGoodOnes) {
  std::string good = "0a1b2c3d\tQUJD\r\n" "ffffffff\tRA==\n";
  std::string bad = "0a1b2c3\tshort\r\n" "0a1b2c3d4\tlong\r\n" "0a1b2c3d\t\r\n" "no tab at all\r\n" "\t\t\t\r\n" +
                    std::string("\x00\xff\xfe garbage", 12) + "\r\r\n\n";
  writeFile(dir / "PendingReports.txt", bad + good + "12345678\tlast line without an end");
  start();
  std::vector<SessionReports::Queued> expected = {
      {"0a1b2c3d", "QUJD"}, {"ffffffff", "RA=="}, {"12345678", "last line without an end"}};
  EXPECT_EQ(reports().items(), expected);
  EXPECT_NE(log().find("Session report: 3 report(s) still to send"), std::string::npos);
  // The next write keeps only what counts, CR LF after each line.
  reports().add("Tm8=");
  expected.push_back({reports().items().back().msgID, "Tm8="});
  EXPECT_EQ(readFile(dir / "PendingReports.txt"), SessionReports::renderQueue(expected));
  EXPECT_EQ(SessionReports::renderQueue({{"0a1b2c3d", "QUJD"}}), "0a1b2c3d\tQUJD\r\n");
  EXPECT_EQ(reports().items().back().msgID.find_first_not_of("0123456789abcdef"), std::string::npos);
}

// A writer killed at random moments leaves the old queue file or the new one.
TEST(SessionReportsFile, InterruptedQueueWriteLeavesOldOrNewFile) {
  testkit::TempDir dir;
  const std::string payload(20000, 'p');
  std::mt19937 random(7);
  for (int round = 0; round < 20; ++round) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ManualLoop loop;
      IniFile ini(dir / "Plimo.ini");
      SessionReports reports(loop, ini, dir.path(), {});
      for (int i = 0; i < 400; ++i) reports.add(payload);
      _exit(0);
    }
    usleep(1000 + random() % 20000);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    std::string text = readFile(dir / "PendingReports.txt");
    auto items = SessionReports::parseQueue(text);
    ASSERT_EQ(SessionReports::renderQueue(items), text) << "round " << round;
    for (auto& item : items) ASSERT_EQ(item.payload, payload) << "round " << round;
    std::filesystem::remove(dir / "PendingReports.txt");
  }
}

TEST_F(Reports, TheServersAskReachesTheFormAndItsAnswerIsQueued) {
  start("[Relay]\nHost=relay.example\n[Profile]\nName=Anna\n[Recent]\nCount=1\nId0=222333444\nName0=Front desk PC\n");
  reports().setForm(&form);
  online();
  say(kAsk);
  ASSERT_EQ(form.opened.size(), 1u);
  const ReportDraft& draft = form.opened[0];
  EXPECT_EQ(draft.ask, (ReportAsk{"17", 1800000000, 1800000960, 960, "222333444"}));
  EXPECT_EQ(draft.minutes, "30");  // 16 minutes
  EXPECT_EQ(iniValue("Reports", "Wanted"), "1");
  // The same session again while its form is open is not asked twice; "-" always is.
  say(kAsk);
  say("REPORTASK - 1800000000 1800000060 x 222333444");
  EXPECT_EQ(reports().asks().size(), 1u);
  EXPECT_EQ(reports().asks()[0].seconds, 60);  // from the dates when the length does not parse

  ReportDraft filled = draft;
  filled.customer = "ACME";
  form.answer(ReportForm::End::saved, filled.save().payload);
  EXPECT_NE(log().find("Session report: saved for 222 333 444"), std::string::npos);
  ASSERT_EQ(reports().items().size(), 1u);
  loop.advance(1);
  // The next ask opens once the first form has gone; Skip saves nothing.
  ASSERT_EQ(form.opened.size(), 2u);
  form.answer(ReportForm::End::skipped);
  EXPECT_NE(log().find("Session report: skipped for 222 333 444"), std::string::npos);
  EXPECT_EQ(reports().items().size(), 1u);
  auto sent = reportLines();
  ASSERT_EQ(sent.size(), 1u);
  auto fields = ReportPayload::decode(sent[0].substr(sent[0].rfind(' ') + 1));
  ASSERT_TRUE(fields);
  EXPECT_EQ(fields->ref, "17");
  EXPECT_EQ(fields->pcName, "Front desk PC");
  EXPECT_EQ(fields->helperName, "Anna");
  EXPECT_EQ(fields->customer, "ACME");
  EXPECT_EQ(fields->minutes, 30);
}

TEST_F(Reports, BadReportLinesAreConsumedWithoutEffectOthersAreLogged) {
  start();
  reports().setForm(&form);
  online();
  for (const char* bad : {"REPORTASK 17 0 10 10 222333444", "REPORTASK 17 20 10 10 222333444",
                          "REPORTASK 17 x 10 10 222333444", "REPORTASK 17 10 99999999999999999999 1 222333444",
                          "REPORTASK 17\x01 10 20 10 222333444", "REPORTASK 17\x9B 10 20 10 222333444",
                          "REPORTASK 17 10 20 10 ", "REPORTASK 17 10 20 10 22233344\x1B",
                          "REPORTASK 17 10 20 10 2223334445"}) {
    EXPECT_TRUE(reports().handle(bad)) << bad;
  }
  EXPECT_TRUE(reports().handle("ERR REPORT_BAD"));  // nothing in flight: no effect
  EXPECT_FALSE(reports().handle("REPORTASK 17 10 20"));
  EXPECT_FALSE(reports().handle("REPORT OK"));
  EXPECT_FALSE(reports().handle("FEEDBACK thanks"));
  say("FEEDBACK thanks");
  EXPECT_NE(log().find("Server: FEEDBACK thanks"), std::string::npos);
  EXPECT_TRUE(form.opened.empty());
  EXPECT_EQ(iniValue("Reports", "Wanted"), "<none>");
}

TEST_F(Reports, AServerAskWithHugeNumbersCannotCrashTheHelper) {
  start();
  reports().setForm(&form);
  online();
  for (const char* bad : {"REPORTASK r 1 2 9223372036854775807 123456789",
                          "REPORTASK r 9223372036854775807 9223372036854775807 0 123456789",
                          "REPORTASK r 10 20 -5 123456789"}) {
    EXPECT_TRUE(reports().handle(bad)) << bad;
  }
  EXPECT_TRUE(form.opened.empty());
  EXPECT_TRUE(reports().asks().empty());
}

TEST_F(Reports, AsksNobodyCanAnswerWaitForTheNextStartWithAForm) {
  start();
  online();
  say(kAsk);
  EXPECT_NE(log().find("nobody can answer here"), std::string::npos);
  EXPECT_EQ(readFile(dir / "PendingAsks.txt"), kAsk + "\r\n");
  model.reset();
  // Damaged lines in the file are skipped.
  writeFile(dir / "PendingAsks.txt",
            "garbage\r\nREPORTASK 9 0 0 0 1\r\n" + std::string(200, '\0') + "\n" + kAsk + "\r\n");
  start();
  reports().setForm(&form);
  ASSERT_EQ(form.opened.size(), 1u);
  EXPECT_EQ(form.opened[0].ask.ref, "17");
  // Still kept while the form is open: the program may end before an answer.
  EXPECT_EQ(readFile(dir / "PendingAsks.txt"), kAsk + "\r\n");
  form.answer(ReportForm::End::closed);
  EXPECT_FALSE(exists("PendingAsks.txt"));
}

TEST(ReportDraft, ProposesStartedQuarterHoursAndRefusesWhatTheServerCannotTake) {
  const std::pair<int64_t, int64_t> minutes[] = {
      {0, 15}, {1, 15}, {15 * 60, 15}, {16 * 60, 30}, {30 * 60, 30}, {30 * 60 + 1, 45}, {46 * 60, 60}};
  for (auto [seconds, proposed] : minutes) EXPECT_EQ(ReportDraft::proposedMinutes(seconds), proposed) << seconds;

  ReportDraft draft({"17", 10, 20, 10, "222333444"}, "PC", "Anna");
  struct Case {
    std::string customer, description, minutes, refusal;
  };
  const Case cases[] = {
      {"  ", " \r\n ", "15", std::string(ReportDraft::kNeedsSomething)},
      {"ACME", "", "1h", std::string(ReportDraft::kBadMinutes)},
      {"ACME", "", "-5", std::string(ReportDraft::kBadMinutes)},
      {"", std::string(3000, 'x') + std::string(2000, '\xC3') , "15", std::string(ReportDraft::kTooLong)},
      {"", "Printer fixed", " 45 ", ""},
      {"ACME", "", "0", ""},
  };
  for (const Case& c : cases) {
    draft.customer = c.customer;
    draft.description = c.description;
    draft.minutes = c.minutes;
    auto saved = draft.save();
    EXPECT_EQ(saved.refusal, c.refusal) << c.customer << "|" << c.minutes;
    EXPECT_EQ(saved.payload.empty(), !c.refusal.empty());
  }
}

TEST(ReportPayload, EncodeCleansNamesAndDescriptionAndDecodeReadsItBack) {
  ReportFields f;
  f.ref = "17";
  f.started = 1800000000;
  f.ended = 1800000960;
  f.seconds = 960;
  f.helpedID = "222333444";
  f.pcName = " Front\r\ndesk ";
  f.helperName = std::string(300, 'a');
  f.customer = "\xC3\xA9" + std::string(250, 'c');
  f.contact = "bad \xFF byte";
  f.billable = true;
  f.minutes = 30;
  f.description = " \r\n one\r\ntwo\rthree \n";
  auto back = ReportPayload::decode(ReportPayload::encode(f));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->pcName, "Front  desk");
  EXPECT_EQ(back->helperName, std::string(200, 'a'));
  EXPECT_EQ(back->customer, "\xC3\xA9" + std::string(199, 'c'));  // 200 characters, not bytes
  EXPECT_EQ(back->contact, "bad \xEF\xBF\xBD byte");
  EXPECT_EQ(back->description, "one\ntwo\nthree");
  EXPECT_TRUE(back->billable);
  EXPECT_EQ(back->minutes, 30);
  EXPECT_EQ(ReportPayload::commandLines("0a1b2c3d", std::string(800, 'A')).size(), 1u);
  EXPECT_TRUE(ReportPayload::commandLines("0a1b2c3d", "").empty());
  for (const char* bad : {"", "=", "QUJ", "QU=D", "!!!!", "QUJD\n"}) EXPECT_FALSE(ReportPayload::decode(bad)) << bad;
}

TEST(TerminalReportForm, AsksEachFieldInTurnAndSavesOrSkips) {
  std::string shown;
  TerminalReportForm form([&](const std::string& text) { shown += text; });
  ReportForm::End end{};
  std::string payload;
  auto done = [&](ReportForm::End e, const std::string& p) { end = e, payload = p; };
  form.open(ReportDraft({"17", 1800000000, 1800000960, 960, "222333444"}, "PC", "Anna"), done);
  EXPECT_NE(shown.find("Plimo - Session report"), std::string::npos);
  EXPECT_NE(shown.find("Session with 222 333 444 (PC)"), std::string::npos);
  // Nothing in customer or description: asked again from the customer on.
  for (const char* line : {"", "", "", "", ""}) form.typed(line);
  EXPECT_NE(shown.find(std::string(ReportDraft::kNeedsSomething)), std::string::npos);
  for (const char* line : {"ACME", "Bea", "maybe", "y", "", "Printer fixed"}) form.typed(line);
  EXPECT_NE(shown.find("Type y or n."), std::string::npos);
  ASSERT_EQ(end, ReportForm::End::saved);
  auto fields = ReportPayload::decode(payload);
  ASSERT_TRUE(fields);
  EXPECT_EQ(fields->customer, "ACME");
  EXPECT_EQ(fields->contact, "Bea");
  EXPECT_TRUE(fields->billable);
  EXPECT_EQ(fields->minutes, 30);
  EXPECT_EQ(fields->description, "Printer fixed");
  EXPECT_FALSE(form.asking());

  form.open(ReportDraft({"18", 10, 20, 10, "222333444"}, "", ""), done);
  form.typed("ACME");
  form.typed(" SKIP ");
  EXPECT_EQ(end, ReportForm::End::skipped);
  form.typed("late line");  // no form open: ignored
}

// The PC's name comes from the partner: on the terminal it is text, not codes.
TEST(TerminalReportForm, APCNameCannotBringTerminalCodesToTheTerminal) {
  std::string shown;
  TerminalReportForm form([&](const std::string& text) { shown += text; });
  form.open(ReportDraft({"17", 10, 20, 10, "222333444"}, "PC\x1b[2J\nCustomer: ", ""), [](auto, auto&) {});
  EXPECT_EQ(shown.find('\x1b'), std::string::npos);
  EXPECT_NE(shown.find("Session with 222 333 444 (PC\\x1b[2J\\x0aCustomer: )"), std::string::npos) << shown;
}

// The terminal reader once kept 256 characters of a line: a longer
// description was billed cut short without a word.
TEST(TerminalReportForm, ALongDescriptionTypedOnTheTerminalIsKeptWhole) {
  ManualLoop loop;
  TerminalReportForm form([](const std::string&) {});
  std::optional<ReportForm::End> end;
  std::string payload;
  form.open(ReportDraft({"19", 10, 20, 10, "222333444"}, "", ""),
            [&](ReportForm::End e, const std::string& p) { end = e, payload = p; });
  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  std::string description(ReportPayload::kMaxDescription, 'x');
  std::string typed = "ACME\n\ny\n\n" + description + "\n";
  ASSERT_EQ(::write(pipe[1], typed.data(), typed.size()), ssize_t(typed.size()));
  {
    TerminalLines lines(loop, pipe[0], [&](const std::string& line) { form.typed(line); });
    for (int i = 0; i < 500 && !end; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));  // the reader's own thread
      loop.runPending();
    }
  }
  ASSERT_EQ(end, ReportForm::End::saved);
  EXPECT_EQ(ReportPayload::decode(payload)->description, description);
  ::close(pipe[1]);
  ::close(pipe[0]);
}
