// A helper's billing report end to end: two `plimo --headless` PCs meet
// through plimo-server, the session ends, the server asks the helper for a
// report, the helper answers on its terminal, the report goes to the server
// and is confirmed, and `plimo-server --export-usage` shows it beside the
// server's own record of the session.

#include <gtest/gtest.h>

#include <ctime>

#include "e2e/HeadlessClient.h"
#include "e2e/ServerProcess.h"
#include "e2e/TrustedHelper.h"

using namespace plimo;
using namespace plimo::e2e;

namespace {

std::string todayUTC() {
  std::time_t now = std::time(nullptr);
  std::tm parts{};
  gmtime_r(&now, &parts);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &parts);
  return text;
}

// `plimo-server --export-usage` of today, run to its end; its output.
std::string exportToday(const ServerProcess& server, const TempDir& dir, const std::string& format) {
  Process run(server.program,
              {"--data", (dir / "data").string(), "--export-usage", "--from", todayUTC(), "--to", todayUTC(),
               "--format", format},
              dir / ("export." + format));
  waitFor([&] { return !run.running(); }, 20);
  return run.output();
}

}  // namespace

TEST(HeadlessReports, TheHelperAnswersOnItsTerminalAndTheExportShowsTheReport) {
  REQUIRE_PROGRAMS();
  TempDir dir("reports");
  ServerProcess server(dir / "data", dir / "server.txt");
  ASSERT_TRUE(server.up());
  std::string ini = relayIni(server.udpPort, std::to_string(server.tcpPorts[0]));
  HeadlessClient host("host", ini + "[Session]\nUnattended=1\n");
  HeadlessClient helper("helper", ini + keptIDIni() + "[Profile]\nName=Anna Helper\n");
  host.start();
  ASSERT_TRUE(host.waitForID(20)) << host.log();
  const std::string hostID = host.lastID();
  std::string why;
  // The kept ID: a fresh one may show first, before the kept one is taken back.
  const std::string helperID = trustHelper(server.program, server.data, helper, why);
  ASSERT_FALSE(helperID.empty()) << why;
  helper.startOnTerminal({"-autoConnect", hostID});
  ASSERT_TRUE(helper.waitForID(20)) << helper.output() << helper.log();
  ASSERT_TRUE(server.process->waitForOutput("Session " + helperID + " helps " + hostID, 30)) << server.log();

  // The helped PC leaves; the server asks the helper, who is still online.
  host.stop();
  ASSERT_TRUE(helper.waitForOutput("Customer: ", 20)) << helper.output() << "\nserver:\n" << server.log();
  EXPECT_NE(helper.output().find("Plimo - Session report"), std::string::npos);
  EXPECT_NE(helper.output().find("Session with " + formatPlimoID(hostID)), std::string::npos);
  for (const char* answer : {"=ACME, Inc.", "bea@acme.test", "y", "30", "Printer \"fixed\""}) helper.type(answer);
  ASSERT_TRUE(helper.waitForLog("Session report: saved for " + formatPlimoID(hostID), 10)) << helper.output();
  ASSERT_TRUE(helper.waitForLog("Session report: stored on the server", 20)) << helper.log() << server.log();
  EXPECT_NE(server.log().find("Session report from " + helperID + " on " + hostID), std::string::npos);

  // The report beside the server's own record: both IDs, the helper's name,
  // the measured length, the minutes billed, the customer kept from being a formula.
  std::string csv = exportToday(server, dir, "csv");
  size_t at = csv.find("\r\n1,");
  ASSERT_NE(at, std::string::npos) << csv;
  std::string line = csv.substr(at + 2, csv.find("\r\n", at + 2) - at - 2);
  EXPECT_NE(line.find(",\"" + helperID + "\",\"Anna Helper\",\"" + hostID + "\","), std::string::npos) << line;
  EXPECT_NE(line.find(",30,1,\"'=ACME, Inc.\",\"bea@acme.test\",\"Printer \"\"fixed\"\"\""), std::string::npos) << line;
  std::string json = exportToday(server, dir, "json");
  EXPECT_NE(json.find("\"customer\": \"=ACME, Inc.\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"reported_minutes\": 30"), std::string::npos) << json;
  // Nothing left to send or to ask.
  helper.stop();
  EXPECT_EQ(helper.log().find("still to send"), std::string::npos);
}
