// The connection test through the model: the "reportTo" automation writes
// the report once, a second after the first registration; with
// "autoConnect" as well only the connection is made.

#include <gtest/gtest.h>

#include "ModelRig.h"
#include "protocol/wire/Stun.h"

using namespace plimo;
using testkit::LinkFixture;

namespace {

const std::string kIni =
    "[Relay]\nHost=relay.example\nTcpPort=443\n[Diagnostics]\nStunServers=stun1.example:3478,stun2.example:3478\n";

struct ReportFixture : LinkFixture {
  std::filesystem::path reportPath = dir / "report.txt";
  std::shared_ptr<testkit::UdpRecord> link;  // the server link's socket

  void registered(UserDefaults defaults) {
    sockets.hosts["stun1.example"] = "192.0.2.1";
    sockets.hosts["stun2.example"] = "192.0.2.2";
    start(kIni, std::move(defaults));
    link = sockets.udp.back();
    welcome();
    say("ID 111222333 3600");
    lines();
  }
  // The PING of the relay test, if one went out since the last look.
  std::optional<std::string> ping() {
    for (auto& line : lines())
      if (line.rfind("PING ", 0) == 0) return line.substr(5);
    return std::nullopt;
  }
  void sayOnLink(const std::string& line) {
    testkit::UdpRecord::deliver(link, server.seal(line), serverAddress());
    loop.runPending();
  }
};

TEST_F(ReportFixture, ReportToWritesTheReportOnceASecondAfterRegistering) {
  UserDefaults defaults;
  defaults.set("reportTo", reportPath.string());
  registered(defaults);
  EXPECT_TRUE(model->autoConnected());
  loop.advance(0.9);
  EXPECT_FALSE(ping()) << "not before one second";
  loop.advance(0.2);
  auto token = ping();
  ASSERT_TRUE(token);
  sayOnLink("PONG " + *token + " 0.1.0 2 5m");

  // The TCP probe on its own link to the server's fallback port; the
  // server link stays on UDP.
  ASSERT_EQ(sockets.tcp.size(), 1u);
  EXPECT_EQ(sockets.tcp[0]->ip, testkit::kServerIP);
  EXPECT_EQ(sockets.tcp[0]->port, 443);
  sockets.tcp[0]->accept();
  loop.advance(0.2);
  testkit::TcpRecord::deliver(sockets.tcp[0], Bytes(194, 0x11));
  loop.advance(0.01);

  // The STUN probe on a socket of its own; both servers answer alike.
  ASSERT_EQ(sockets.udp.size(), 2u);
  auto stun = sockets.udp[1];
  ASSERT_EQ(stun->sent.size(), 1u);
  for (int i = 0; i < 2; ++i) {
    const auto& request = stun->sent.back();
    testkit::UdpRecord::deliver(stun, Stun::bindingSuccess(*Stun::bindingRequestId(request.data), {0xCB007107, 40000}),
                                request.to);
    loop.runPending();
  }
  EXPECT_FALSE(stun->alive());
  for (const auto& d : link->sent) EXPECT_EQ(d.to, serverAddress()) << "the server link sent nothing else";

  std::string text = testkit::readFile(reportPath);
  EXPECT_TRUE(text.starts_with("Plimo for Linux - connection report\n")) << text;
  EXPECT_NE(text.find("Server test: answered in "), std::string::npos) << text;
  EXPECT_NE(text.find("TCP 443: answers as a Plimo server in 200 ms\n"), std::string::npos) << text;
  EXPECT_NE(text.find("NAT: easy NAT (203.0.113.7:40000)\n"
                      "  stun1.example:3478 sees this PC as 203.0.113.7:40000\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("This PC's ID: 111 222 333\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Version: " + AppModel::version() + ", Debian GNU/Linux 12 (bookworm)\n"), std::string::npos);

  // Written whole, in one step: no temporary file stays beside it.
  size_t files = 0;
  for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 3u) << "Plimo.ini, Plimo.log and the report";

  // Registering again later runs nothing more.
  std::filesystem::remove(reportPath);
  sayOnLink("ID 111222333 3600");
  loop.advance(60);
  EXPECT_FALSE(std::filesystem::exists(reportPath));
  EXPECT_FALSE(ping());
}

TEST_F(ReportFixture, WithAutoConnectAsWellOnlyTheConnectionIsMade) {
  UserDefaults defaults;
  defaults.set("reportTo", reportPath.string());
  defaults.set("autoConnect", "123456789");
  registered(defaults);
  loop.advance(60);
  EXPECT_FALSE(std::filesystem::exists(reportPath));
  EXPECT_TRUE(sockets.tcp.empty());
  EXPECT_EQ(sockets.udp.size(), 1u) << "no probe ran";
}

TEST_F(ReportFixture, ARunWithoutAnyAnswerStillReports) {
  registered({});
  std::optional<ConnectionReport::Result> result;
  model->runConnectionTest([&](const ConnectionReport::Result& r) { result = r; });
  // The relay test's 5 s, the TCP probe's 8 s, then 2 x 2 x 2 s of STUN.
  loop.runUntil([&] { return result.has_value(); }, 60, 0.01);
  ASSERT_TRUE(result);
  EXPECT_NEAR(loop.now() - 1000.0, 5 + 8 + 8, 1.1);
  std::vector<std::string> titles;
  for (const auto& f : result->findings) titles.push_back(f.title);
  EXPECT_EQ(titles, (std::vector<std::string>{"The server does not answer", "No TCP fallback port answers",
                                              "The network type could not be tested", "No connection attempt yet"}));
}

TEST_F(ReportFixture, ANewRunReplacesTheOneUnderWay) {
  registered({});
  int first = 0, second = 0;
  model->runConnectionTest([&](const ConnectionReport::Result&) { ++first; });
  loop.advance(1);
  model->runConnectionTest([&](const ConnectionReport::Result&) { ++second; });
  loop.advance(60);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);
}

}  // namespace
