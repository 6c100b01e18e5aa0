// The connection test as the README promises it, against plimo-server on
// loopback: `plimo --connection-test` prints the report and ends, and
// `plimo --headless -reportTo PATH` writes it once. plimo-server is both STUN
// servers here, so the NAT reads as easy at the loopback address.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "e2e/HeadlessClient.h"
#include "e2e/ServerProcess.h"

using namespace plimo;
using namespace plimo::e2e;

namespace {

std::string testIni(const ServerProcess& s) {
  std::string udp = std::to_string(s.udpPort);
  return relayIni(s.udpPort, std::to_string(s.tcpPorts[0]), s.keyHex) + "[Diagnostics]\nStunServers=127.0.0.1:" +
         udp + ",localhost:" + udp + "\n";
}

void expectHealthyReport(const std::string& text, const ServerProcess& s) {
  EXPECT_NE(text.find("Plimo for Linux - connection report\n"), std::string::npos) << text;
  EXPECT_NE(text.find("- [OK] The server answers: 127.0.0.1:" + std::to_string(s.udpPort) + " answered in "),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("TCP " + std::to_string(s.tcpPorts[0]) + ": answers as a Plimo server in "), std::string::npos)
      << text;
  EXPECT_NE(text.find("NAT: easy NAT (127.0.0.1:"), std::string::npos) << text;
  EXPECT_NE(text.find("- [OK] No connection attempt yet: "), std::string::npos) << text;
}

}  // namespace

TEST(ConnectionTest, PrintsTheReportAndEnds) {
  REQUIRE_PROGRAMS();
  TempDir dir("conntest");
  ServerProcess server(dir / "data", dir / "server.txt");
  ASSERT_TRUE(server.up());
  TempDir home("conntest-home");
  testkit::writeFile(home / "Plimo.ini", testIni(server));
  Process plimo(HeadlessClient::program(), {"--connection-test"}, dir / "out.txt", {{"PLIMO_HOME", home.path()}});
  // Registration, a second, the server test, one TCP probe: a few seconds.
  ASSERT_TRUE(waitFor([&] { return !plimo.running(); }, 30)) << plimo.output();
  int status = plimo.stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  expectHealthyReport(plimo.output(), server);
}

TEST(ConnectionTest, ReportToWritesTheReportOnce) {
  REQUIRE_PROGRAMS();
  TempDir dir("reportto");
  ServerProcess server(dir / "data", dir / "server.txt");
  ASSERT_TRUE(server.up());
  HeadlessClient client("reportto-client", testIni(server));
  std::string path = dir / "report.txt";
  client.start({"-reportTo", path});
  ASSERT_TRUE(client.waitForLog("Connection report written to " + path, 30)) << client.log();
  expectHealthyReport(readFile(path), server);
  client.stop();
  std::string log = client.log();
  EXPECT_EQ(log.find("Connection report written"), log.rfind("Connection report written")) << log;
}
