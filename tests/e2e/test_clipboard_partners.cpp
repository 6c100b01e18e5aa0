// Two `plimo --headless` PCs on two X displays through plimo-server: text
// copied on one display (by xclip, as any program copies) is on the other's
// clipboard and back while the helper has control, and nothing crosses while
// the helper only watches.

#include <gtest/gtest.h>

#include <cstdio>

#include "e2e/HeadlessClient.h"
#include "e2e/ServerProcess.h"
#include "platform/TestServers.h"

using namespace plimo;
using namespace plimo::e2e;

namespace {

void copyOn(const std::string& display, const std::string& text) {
  std::FILE* in = popen(("DISPLAY=" + display + " xclip -selection clipboard -i 2>/dev/null").c_str(), "w");
  ASSERT_TRUE(in);
  std::fwrite(text.data(), 1, text.size(), in);
  pclose(in);
}

std::string pasteOn(const std::string& display) {
  std::FILE* out = popen(("DISPLAY=" + display + " xclip -selection clipboard -o 2>/dev/null").c_str(), "r");
  std::string text;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;) text.append(buffer, n);
  pclose(out);
  return text;
}

TEST(ClipboardPartners, TextCrossesWhileTheHelperHasControlAndNotWhileItWatches) {
  REQUIRE_PROGRAMS();
  if (!plimo::testing::onPath("xclip")) GTEST_SKIP() << "no xclip (scripts/install-deps)";
  plimo::testing::Xvfb helpedX(320, 200), helperX(320, 200);
  if (!helpedX.running() || !helperX.running()) GTEST_SKIP() << "no Xvfb";
  TempDir dir("clipboard");
  ServerProcess server(dir / "data", dir / "server.txt");
  ASSERT_TRUE(server.up());
  const std::string ini = relayIni(server.udpPort, std::to_string(server.tcpPorts[0]));

  for (const std::string answer : {"c", "v"}) {
    SCOPED_TRACE(answer);
    HeadlessClient host("host", ini), helper("helper", ini);
    host.env = {{"DISPLAY", helpedX.name()}};
    helper.env = {{"DISPLAY", helperX.name()}};
    host.startOnTerminal();
    ASSERT_TRUE(host.waitForID(20)) << host.output() << host.log();
    helper.start({"-autoConnect", host.lastID()});
    ASSERT_TRUE(host.waitForOutput("No answer in 30 s means Deny.", 30)) << host.output() << helper.log();
    host.type(answer);
    ASSERT_TRUE(helper.waitForLog("the helped PC shares clipboard 1", 20)) << helper.log() << host.log();
    ASSERT_TRUE(host.waitForLog("the helper's PC shares clipboard 1", 5)) << host.log();

    const std::string there = "journalctl -u plimo " + answer, back = "sudo systemctl restart x " + answer;
    copyOn(helpedX.name(), there);
    if (answer == "c") {
      EXPECT_TRUE(waitFor([&] { return pasteOn(helperX.name()) == there; }, 10)) << helper.log();
      copyOn(helperX.name(), back);
      EXPECT_TRUE(waitFor([&] { return pasteOn(helpedX.name()) == back; }, 10)) << host.log();
    } else {
      copyOn(helperX.name(), back);
      // Nothing to wait for but time: both copies stay where they were made.
      EXPECT_FALSE(waitFor([&] { return pasteOn(helperX.name()) == there || pasteOn(helpedX.name()) == back; }, 2));
    }
    helper.stop();
    host.stop();
  }
}

}  // namespace
