#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "server/ReportLines.h"
#include "server/Reports.h"
#include "server/ServerLog.h"
#include "server/ServerRig.h"

using namespace plimo;
using namespace plimo::testkit;

namespace {

std::string payload(const std::string& ref, const std::string& description) {
  return base64("R1\n" + ref + "\n1700000000\n1700000600\n600\n222333444\nFront desk PC\nAnna\nACME\n"
                "anna@acme.test\n1\n15\n" + description);
}

// A record of a session `viewerID` helped on, which the server asked it
// about; its ref.
std::string askedRecord(ServerStore& store, const std::string& viewerID) {
  int64_t row = store.startUsage(viewerID, "222333444", "V", 1700000000).valueOr(0);
  EXPECT_TRUE(store.endUsage(row, 600));
  EXPECT_TRUE(store.markAsked(row));
  return std::to_string(row);
}

}  // namespace

TEST(Reports, PiecesInAnyOrderAreStoredOnceAndConfirmed) {
  ServerRig rig;
  RigClient c(rig, RigClient::udp(40001));
  std::string ref = askedRecord(*rig.store, c.registerAs());
  auto lines = reportLines("0a1b2c3d", payload(ref, "Printer fixed.\nDriver updated." + std::string(2000, '.')));
  ASSERT_GE(lines.size(), 3u);
  // Last first, then the rest; the report is complete with the final piece.
  EXPECT_TRUE(c.say(lines.back()).empty());
  for (size_t i = 0; i + 2 < lines.size(); ++i) EXPECT_TRUE(c.say(lines[i]).empty());
  EXPECT_EQ(c.say(lines[lines.size() - 2]), std::vector<std::string>{"REPORT OK 0a1b2c3d"});
  EXPECT_EQ(rig.store->reportCount(), 1);
  // The client's resend (its confirmation was lost) is confirmed again, stored once.
  for (size_t i = 0; i + 1 < lines.size(); ++i) c.say(lines[i]);
  EXPECT_EQ(c.say(lines.back()), std::vector<std::string>{"REPORT OK 0a1b2c3d"});
  EXPECT_EQ(rig.store->reportCount(), 1);
}

TEST(Reports, DecodeReadsEveryFieldAndRefusesWhatIsNoReport) {
  auto r = Reports::decode(payload("12", "Line one\nLine two"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->ref, "12");
  EXPECT_EQ(r->started, 1700000000);
  EXPECT_EQ(r->ended, 1700000600);
  EXPECT_EQ(r->seconds, 600);
  EXPECT_EQ(r->helpedID, "222333444");
  EXPECT_EQ(r->pcName, "Front desk PC");
  EXPECT_EQ(r->helperName, "Anna");
  EXPECT_EQ(r->customer, "ACME");
  EXPECT_EQ(r->contact, "anna@acme.test");
  EXPECT_TRUE(r->billable);
  EXPECT_EQ(r->minutes, 15);
  EXPECT_EQ(r->description, "Line one\nLine two");

  for (const std::string& bad :
       {std::string(), std::string("!!!!"), std::string("abc"), base64("R2\n1\n2\n3\n4\n5\n6\n7\n8\n9\n1\n15\nx"),
        base64("R1\n1\n2\n3\n4\n5\n6\n7\n8\n9\n1\n15"), base64("R1\n1\nx\n3\n4\n5\n6\n7\n8\n9\n1\n15\nd"),
        base64("R1\n1\n2\n3\n4\n5\n6\n7\n8\n9\nyes\n15\nd"), base64(std::string(300, '\n'))}) {
    EXPECT_FALSE(Reports::decode(bad)) << bad;
  }
}

TEST(Reports, MalformedLinesAreRefusedWithCodesTheClientKnows) {
  ServerRig rig;
  RigClient c(rig, RigClient::udp(40001));
  ASSERT_TRUE(c.handshake());
  EXPECT_EQ(c.say("REPORT 0a1b2c3d 0 1 QUJD"), std::vector<std::string>{"ERR REPORT_NOT_READY"});
  c.registerAs();
  for (const char* bad : {"REPORT", "REPORT 0a1b2c3d", "REPORT xyz 0 1 QUJD", "REPORT 0a1b2c3d 1 1 QUJD",
                          "REPORT 0a1b2c3d -1 1 QUJD", "REPORT 0a1b2c3d 0 11 QUJD", "REPORT 0a1b2c3d 0 1 ",
                          "REPORT 0a1b2c3d 0 1 QUJD extra"}) {
    EXPECT_EQ(c.say(bad), std::vector<std::string>{"ERR REPORT_BAD"}) << bad;
  }
  EXPECT_EQ(c.say("REPORT 0a1b2c3d 0 1 " + std::string(801, 'A')), std::vector<std::string>{"ERR REPORT_BAD"});
  // Complete but not a report.
  EXPECT_EQ(c.say("REPORT 0a1b2c3d 0 1 QUJD"), std::vector<std::string>{"ERR REPORT_BAD"});
  EXPECT_EQ(rig.store->reportCount(), 0);
}

TEST(Reports, TooManyInAMinuteAreToldToWait) {
  ServerRig rig;
  RigClient c(rig, RigClient::udp(40001));
  std::string id = c.registerAs();
  for (int i = 0; i < Reports::kPerMinute; ++i) {
    std::string data = payload(askedRecord(*rig.store, id), "x");
    EXPECT_EQ(c.say(reportLines("1000000" + std::to_string(i % 10) + std::to_string(i / 10), data)[0]).size(), 1u);
  }
  std::string data = payload(askedRecord(*rig.store, id), "x");
  EXPECT_EQ(c.say(reportLines("ffffffff", data)[0]), std::vector<std::string>{"ERR REPORT_RATE"});
  rig.loop.advance(30);
  c.say("HELLO 0");
  rig.loop.advance(31);
  EXPECT_EQ(c.say(reportLines("ffffffff", data)[0]), std::vector<std::string>{"REPORT OK ffffffff"});
  EXPECT_EQ(rig.store->reportCount(), Reports::kPerMinute + 1);
}

// The helped ID of a report went to the log as sent: CR and ESC in it
// forged a line of the server's own.
TEST(Reports, AReportWithAForgedHelpedIdCannotForgeALogLine) {
  ServerRig rig;
  RigClient c(rig, RigClient::udp(40001));
  std::string ref = askedRecord(*rig.store, c.registerAs());
  const std::string forged = "222333444\r\x1b[2K2024-05-06 07:08:09  Trusted helper 111222333 added";
  std::string data = base64("R1\n" + ref + "\n1700000000\n1700000600\n600\n" + forged +
                            "\nFront desk PC\nAnna\nACME\nanna@acme.test\n1\n15\nx");
  ASSERT_TRUE(Reports::decode(data));
  EXPECT_EQ(c.say(reportLines("0a1b2c3d", data)[0]), std::vector<std::string>{"ERR REPORT_BAD"});
  EXPECT_EQ(rig.store->reportCount(), 0);
  for (const std::string& line : rig.logs) EXPECT_EQ(line.find_first_of("\r\n\x1b"), std::string::npos) << line;

  // Whatever else from outside reaches the log stays one line, and visible.
  auto path = std::filesystem::temp_directory_path() / ("plimo-log-" + std::to_string(::getpid()));
  std::filesystem::remove(path);
  {
    ServerLog log(path.string());
    log.line("Session report from 111222333 on " + forged + "\x9b\x7f\u202e");
  }
  std::ifstream file(path, std::ios::binary);
  std::string written((std::istreambuf_iterator<char>(file)), {});
  std::filesystem::remove(path);
  EXPECT_EQ(written.find_first_of("\r\x1b\x7f"), std::string::npos) << written;
  EXPECT_EQ(written.find("\u202e"), std::string::npos) << written;
  EXPECT_EQ(written.find('\n'), written.size() - 1) << written;
  EXPECT_NE(written.find("222333444\\x0d\\x1b[2K2024"), std::string::npos) << written;
}

TEST(Reports, TheHelperIsAskedAfterItsSession) {
  ServerRig rig;
  RigClient v(rig, RigClient::udp(40001));
  RigClient h(rig, RigClient::udp(40002));
  std::string idV = v.registerAs();
  std::string idH = h.registerAs();
  v.say("CONNECT " + idH + " 192.168.1.20 40000 " + std::string(128, 'A'));
  h.say("SESSION START " + idV + " H");
  v.say("SESSION START " + idH + " V");
  int64_t started = int64_t(rig.loop.wallNow());
  rig.loop.advance(40);
  v.say("HELLO 0");
  h.say("HELLO 0");
  rig.loop.advance(20);
  EXPECT_TRUE(h.say("SESSION END").empty());  // the helped PC is never asked
  EXPECT_EQ(v.lines(), std::vector<std::string>{"REPORTASK 1 " + std::to_string(started) + " " +
                                                std::to_string(started + 60) + " 60 " + idH});
  EXPECT_TRUE(v.say("SESSION END").empty());  // one record, one request
}
