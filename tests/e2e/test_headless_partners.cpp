// Two `plimo --headless` PCs meeting through plimo-server on loopback: the
// helper connects by ID at start, the helped PC lets it in unattended.

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include "e2e/HeadlessClient.h"
#include "e2e/ServerProcess.h"

using namespace plimo;
using namespace plimo::e2e;

namespace {

// The check number a log shows for its partner link, or "".
std::string checkNumber(const std::string& log) {
  std::smatch m;
  static const std::regex pattern("link to .*Check number ([0-9]{3} [0-9]{3})");
  return std::regex_search(log, m, pattern) ? m[1].str() : std::string();
}

bool programsBuilt() { return !builtProgram("server/plimo-server").empty() && !HeadlessClient::program().empty(); }

// plimo-server, a helped PC with unattended access, and a helper that
// connects to it by ID at start.
struct Partners {
  TempDir dir;
  ServerProcess server;
  std::string ini;
  HeadlessClient host;
  HeadlessClient helper;

  explicit Partners(const char* name)
      : dir(name),
        server(dir / "data", dir / "server.txt"),
        ini(relayIni(server.udpPort, std::to_string(server.tcpPorts[0]))),
        host("host", ini + "[Session]\nUnattended=1\n"),
        helper("helper", ini) {}

  // Starts both PCs; false (with the logs in `why`) when one got no ID.
  bool start(std::string& why) {
    if (!server.up()) return why = "no server", false;
    host.start();
    if (!host.waitForID(20)) return why = host.log(), false;
    helper.start({"-autoConnect", host.lastID()});
    if (!helper.waitForID(20)) return why = helper.log(), false;
    return true;
  }
};

}  // namespace

TEST(HeadlessPartners, HelperConnectsByIDAndTheServerRecordsTheSession) {
  if (!programsBuilt()) GTEST_SKIP() << "plimo-server or plimo is not built in this tree";
  Partners p("partners");
  std::string why;
  ASSERT_TRUE(p.start(why)) << why;
  auto& server = p.server;
  auto& host = p.host;
  auto& helper = p.helper;
  const std::string hostID = host.lastID();
  ASSERT_TRUE(waitFor([&] { return !checkNumber(helper.log()).empty() && !checkNumber(host.log()).empty(); }, 30))
      << "helper:\n" << helper.log() << "\nhost:\n" << host.log() << "\nserver:\n" << server.log();
  EXPECT_EQ(checkNumber(helper.log()), checkNumber(host.log()));
  ASSERT_TRUE(server.process->waitForOutput("Session " + helper.lastID() + " helps " + hostID, 10)) << server.log();

  // The helper leaves: the record gets its length.
  helper.stop();
  EXPECT_TRUE(server.process->waitForOutput(" ended after ", 10)) << server.log();
}

// The helped PC on an X display with unattended access captures that display
// and sends its pictures to the helper as soon as the helper is let in.
TEST(HeadlessPartners, AnUnattendedHostOnAnXDisplaySharesIt) {
  if (!programsBuilt()) GTEST_SKIP() << "plimo-server or plimo is not built in this tree";
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display (scripts/test starts Xvfb)";
  Partners p("shared-display");
  std::string why;
  ASSERT_TRUE(p.start(why)) << why;
  auto& host = p.host;
  // The statistics line comes 10 s into the session, when pictures went out.
  static const std::regex shared(R"(\[host\] [0-9.]+ pictures/s, .* tiles, [0-9]+x[0-9]+)");
  ASSERT_TRUE(waitFor([&] { return std::regex_search(host.log(), shared); }, 40)) << host.log();
  EXPECT_EQ(host.log().find("capture failed"), std::string::npos) << host.log();
  EXPECT_NE(host.log().find("Being helped by"), std::string::npos) << host.log();
}
