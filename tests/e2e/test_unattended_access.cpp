// PCs with unattended access behind plimo-server as a real process: only
// helpers the company trusts (with --trust-helper, on the running server) and
// whose ID is kept with its secret are introduced to them.

#include <gtest/gtest.h>

#include <optional>

#include "core/PlimoID.h"
#include "e2e/HeadlessClient.h"
#include "e2e/ServerProcess.h"

using namespace plimo;
using namespace plimo::e2e;

namespace {

const std::string kKey(128, 'A');

// A protocol client registered as a PC whose HELLO announces unattended access.
struct UnattendedPC {
  explicit UnattendedPC(uint16_t port) : client(port, false) {
    id = client.registerAs();
    client.say("HELLO " + id + " 127.0.0.1 1 " + kKey + " 127.0.0.1 1", "ID ");
  }
  // True when a PEER line for `helperID` arrived within `seconds`.
  bool introducedTo(const std::string& helperID, double seconds = 1) {
    while (auto packet = client.receive(seconds)) {
      auto line = client.codec.open(*packet);
      if (line && line->rfind("PEER ", 0) == 0 && line->find(" " + helperID + " - ") != std::string::npos) return true;
    }
    return false;
  }
  NetClient client;
  std::string id;
};

// plimo-server, a PC with unattended access and a helper, both registered.
struct Scene {
  explicit Scene(const char* name) : dir(name), server(dir / "data", dir / "out.txt") {
    if (!server.up()) return;
    pc.emplace(server.udpPort);
    helper.emplace(server.udpPort, false);
    helperID = helper->registerAs();
  }
  bool up() const { return pc && !pc->id.empty() && !helperID.empty(); }
  TempDir dir;
  ServerProcess server;
  std::optional<UnattendedPC> pc;
  std::optional<NetClient> helper;
  std::string helperID;
};

std::string answer(NetClient& helper, const std::string& pcID) {
  auto lines = helper.say("CONNECT " + pcID + " 127.0.0.1 1 " + kKey, "", 1);
  return lines.empty() ? "" : lines[0].substr(0, lines[0].find(' ', 4));
}

}  // namespace

// A stranger registering and asking for a known unattended ID is not let in
// (the PC would have shared its screen and input with it at once).
TEST(UnattendedAccess, AFreshClientConnectingToAKnownUnattendedIDGetsNoSession) {
  Scene s("unattended-stranger");
  if (s.server.program.empty()) GTEST_SKIP() << "plimo-server is not built in this tree";
  ASSERT_TRUE(s.up()) << s.server.log();
  auto& server = s.server;
  UnattendedPC& pc = *s.pc;
  // What an ID that is not online gets.
  EXPECT_EQ(answer(*s.helper, pc.id), "ERR UNKNOWN_ID");
  EXPECT_FALSE(pc.introducedTo(s.helperID));
  EXPECT_TRUE(server.process->waitForOutput("Refused ID " + s.helperID + " from 127.0.0.1:", 5)) << server.log();
  EXPECT_NE(server.log().find("asking for ID " + pc.id + ", which has unattended access"), std::string::npos);
  EXPECT_NE(server.log().find("No helper is trusted, so PCs with unattended access (such as ID " + pc.id),
            std::string::npos)
      << server.log();
}

TEST(UnattendedAccess, AKeptHelperTrustedOnTheRunningServerGetsInUntilItUnpinsOrIsDistrusted) {
  Scene s("unattended-trusted");
  if (s.server.program.empty()) GTEST_SKIP() << "plimo-server is not built in this tree";
  ASSERT_TRUE(s.up()) << s.server.log();
  auto& server = s.server;
  UnattendedPC& pc = *s.pc;
  NetClient& helper = *s.helper;
  const std::string& id = s.helperID;
  auto& dir = s.dir;
  ASSERT_EQ(helper.say("PIN " + id + " " + std::string(64, 'C'), "ID ").at(0), "PIN OK " + id);
  EXPECT_EQ(answer(helper, pc.id), "ERR UNKNOWN_ID");  // kept, but not trusted yet

  std::string out;
  // Trust goes to the secret that keeps an ID: one that nobody keeps is refused.
  EXPECT_EQ(server.command({"--trust-helper", pc.id}, out), 1);
  EXPECT_NE(out.find("is not kept with a secret on this server, so it is not trusted"), std::string::npos) << out;
  ASSERT_EQ(server.command({"--trust-helper", formatPlimoID(id), "--name", "Anna Berg"}, out), 0) << out;
  ASSERT_EQ(server.command({"--list-helpers"}, out), 0);
  EXPECT_NE(out.find(formatPlimoID(id) + "  trusted    "), std::string::npos) << out;
  EXPECT_EQ(out.find(formatPlimoID(pc.id)), std::string::npos) << out;
  EXPECT_NE(out.find("  Anna Berg"), std::string::npos) << out;
  EXPECT_EQ(answer(helper, pc.id), "PEER");
  EXPECT_TRUE(pc.introducedTo(id));
  EXPECT_TRUE(server.process->waitForOutput("as trusted helper Anna Berg", 5)) << server.log();

  // Given up, the trust is suspended; keeping the ID again, even with the
  // same secret, does not bring it back: only the administrator does.
  helper.say("UNPIN", "ID ");
  EXPECT_EQ(answer(helper, pc.id), "ERR UNKNOWN_ID");
  EXPECT_FALSE(pc.introducedTo(id));
  ASSERT_EQ(helper.say("PIN " + id + " " + std::string(64, 'C'), "ID ").at(0), "PIN OK " + id);
  EXPECT_EQ(answer(helper, pc.id), "ERR UNKNOWN_ID");
  EXPECT_TRUE(server.process->waitForOutput("which has unattended access: its trust is suspended", 5)) << server.log();
  ASSERT_EQ(server.command({"--list-helpers"}, out), 0);
  EXPECT_NE(out.find(formatPlimoID(id) + "  suspended  "), std::string::npos) << out;
  EXPECT_NE(out.find("ID " + formatPlimoID(id) + " is suspended: its ID was given up or kept by another secret "
                     "since it was trusted, and is kept again now"),
            std::string::npos)
      << out;
  ASSERT_EQ(server.command({"--trust-helper", id}, out), 0) << out;
  EXPECT_EQ(answer(helper, pc.id), "PEER");
  ASSERT_EQ(server.command({"--distrust-helper", id}, out), 0) << out;
  EXPECT_EQ(answer(helper, pc.id), "ERR UNKNOWN_ID");
  ASSERT_EQ(server.command({"--list-helpers"}, out), 0);
  EXPECT_NE(out.find("No helper is trusted"), std::string::npos) << out;
  // Changes to the list are in the server's log.
  std::string log = readFile(dir / "data/plimo-server.log");
  EXPECT_NE(log.find("Trusted helper " + id + " (Anna Berg) added with --trust-helper"), std::string::npos) << log;
  EXPECT_NE(log.find("Trusted helper " + id + " removed with --distrust-helper"), std::string::npos) << log;
  // A folder without a database is not mistaken for an empty list.
  EXPECT_EQ(ServerProcess::command(server.program, dir / "nothing-here", {"--list-helpers"}, out), 1);
  EXPECT_NE(out.find("no database in"), std::string::npos) << out;
}

// A PC whose person is asked is reached by anyone, and asks its person.
TEST(UnattendedAccess, APCWithoutUnattendedAccessIsReachedByAnyHelperAndAsksItsPerson) {
  REQUIRE_PROGRAMS();
  TempDir dir("attended");
  ServerProcess server(dir / "data", dir / "server.txt");
  ASSERT_TRUE(server.up());
  std::string ini = relayIni(server.udpPort, std::to_string(server.tcpPorts[0]));
  HeadlessClient host("host", ini);
  host.start();
  ASSERT_TRUE(host.waitForID(20)) << host.log();
  HeadlessClient helper("helper", ini);
  helper.start({"-autoConnect", host.lastID()});
  ASSERT_TRUE(host.waitForLog("[host] nobody is at this PC to answer, so ", 40))
      << "host:\n" << host.log() << "\nhelper:\n" << helper.log() << "\nserver:\n" << server.log();
  EXPECT_EQ(server.log().find("Refused ID "), std::string::npos) << server.log();
}
