// Two `plimo --headless` PCs through plimo-server, the helped one on an X
// display: a file goes each way whole while the pictures flow, each into the
// folder its [Files] Folder names; a PC with no folder declines.

#include <gtest/gtest.h>

#include <random>

#include "e2e/HeadlessClient.h"
#include "e2e/ServerProcess.h"
#include "platform/TestServers.h"

using namespace plimo;
using namespace plimo::e2e;

namespace {

std::string randomText(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string out(size, '\0');
  for (auto& c : out) c = char(rng());
  return out;
}

void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

TEST(FilePartners, AFileGoesEachWayWholeAndAPCWithoutAFolderDeclines) {
  REQUIRE_PROGRAMS();
  plimo::testing::Xvfb helpedX(320, 200);
  if (!helpedX.running()) GTEST_SKIP() << "no Xvfb";
  TempDir dir("files");
  ServerProcess server(dir / "data", dir / "server.txt");
  ASSERT_TRUE(server.up());
  const std::string ini = relayIni(server.udpPort, std::to_string(server.tcpPorts[0]));
  std::filesystem::create_directories(dir / "helped");
  std::filesystem::create_directories(dir / "helper");
  const std::string toHelped = randomText(6'000'000, 1), toHelper = randomText(4'000'001, 2);
  writeBytes(dir / "fix.tar", toHelped);
  writeBytes(dir / "syslog.txt", toHelper);

  HeadlessClient host("host", ini + "[Files]\nFolder=" + (dir / "helped").string() + "\n");
  HeadlessClient helper("helper", ini + "[Files]\nFolder=" + (dir / "helper").string() + "\n");
  host.env = {{"DISPLAY", helpedX.name()}};
  host.startOnTerminal({"-sendFile", (dir / "syslog.txt").string()});
  ASSERT_TRUE(host.waitForID(20)) << host.output() << host.log();
  helper.start({"-autoConnect", host.lastID(), "-sendFile", (dir / "fix.tar").string()});
  ASSERT_TRUE(host.waitForOutput("No answer in 30 s means Deny.", 30)) << host.output() << helper.log();
  host.type("c");
  EXPECT_TRUE(helper.waitForLog("\"fix.tar\" arrived whole.", 60)) << helper.log() << host.log();
  EXPECT_TRUE(host.waitForLog("\"syslog.txt\" arrived whole.", 60)) << host.log();
  EXPECT_TRUE(readFile(dir / "helped" / "fix.tar") == toHelped);
  EXPECT_TRUE(readFile(dir / "helper" / "syslog.txt") == toHelper);
  EXPECT_TRUE(helper.waitForLog("pictures/s", 15)) << "pictures flow beside the files";
  helper.stop();
  host.stop();

  // The same helper again, to a helped PC without a folder.
  HeadlessClient bare("bare", ini);
  bare.env = {{"DISPLAY", helpedX.name()}};
  bare.startOnTerminal();
  ASSERT_TRUE(bare.waitForID(20)) << bare.output() << bare.log();
  helper.start({"-autoConnect", bare.lastID(), "-sendFile", (dir / "fix.tar").string()});
  ASSERT_TRUE(bare.waitForOutput("No answer in 30 s means Deny.", 30)) << bare.output() << helper.log();
  bare.type("c");
  EXPECT_TRUE(helper.waitForLog("was declined: the other PC has no folder for files.", 20)) << helper.log();
  helper.stop();
  bare.stop();
}

}  // namespace
