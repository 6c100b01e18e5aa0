#include <gtest/gtest.h>

#include "support/AppSettings.h"
#include "support/IniFile.h"
#include "support/RecentPC.h"
#include "support/UserDefaults.h"
#include "testkit/TempDir.h"

using namespace plimo;
using testkit::readFile;
using testkit::TempDir;
using testkit::writeFile;


TEST(AppSettings, MissingFileGivesDefaultsWithSystemName) {
  TempDir dir;
  IniFile ini(dir / "Plimo.ini");
  ini.load();
  AppSettings s = AppSettings::load(ini, UserDefaults(), "Grace Hopper");
  EXPECT_EQ(s, AppSettings::defaults("Grace Hopper"));
  EXPECT_EQ(s.relayHost, "");
  EXPECT_EQ(s.relayPort, 47800);
  EXPECT_EQ(s.tcpPorts, "8443,443,80");
  EXPECT_EQ(s.profileName, "Grace Hopper");
  EXPECT_TRUE(s.hideWallpaper && s.helperCtrlAsCommand);
  EXPECT_FALSE(s.commandAsControl);  // a Linux helper's Super stays Super
}

TEST(AppSettings, ReadsEveryKeyAndOlderDefaultsWin) {
  TempDir dir;
  writeFile(dir / "Plimo.ini",
            "[Relay]\nHost=   \nPort=0\nTcpPort= 9000,80 \nKey= ABCD \n"
            "[ID]\nPinned=123456789\nSecret= s \n"
            "[Profile]\nName=Helper\nCompany=Co\nEmail=e@x\nPhone=1\nPicture=/p.png\n"
            "[Session]\nHideWallpaper=0\n[Mac]\nCommandAsControl=2\nHelperCtrlAsCommand=junk\n");
  IniFile ini(dir / "Plimo.ini");
  ini.load();

  AppSettings s = AppSettings::load(ini, UserDefaults(), "System Name");
  EXPECT_EQ(s.relayHost, "");  // spaces only count as empty
  EXPECT_EQ(s.relayPort, 0);   // 0 from the file stands
  EXPECT_EQ(s.tcpPorts, "9000,80");
  EXPECT_EQ(s.relayKey, "ABCD");
  EXPECT_EQ(s.pinnedID, "123456789");
  EXPECT_EQ(s.pinSecret, " s");
  EXPECT_EQ(s.profileName, "Helper");
  EXPECT_EQ(s.profilePicture, "/p.png");
  EXPECT_FALSE(s.hideWallpaper);
  EXPECT_TRUE(s.commandAsControl);
  EXPECT_TRUE(s.helperCtrlAsCommand);  // unreadable gives the default

  auto defaults = UserDefaults::fromArguments({"--headless", "-relayPort", "0", "-relayHost", "old.example"});
  s = AppSettings::load(ini, defaults, "System Name");
  EXPECT_EQ(s.relayPort, 0);  // below 1 in the older values is ignored
  EXPECT_EQ(s.relayHost, "old.example");
  defaults.set("relayPort", "5000");
  EXPECT_EQ(AppSettings::load(ini, defaults, "").relayPort, 5000);
}

TEST(AppSettings, SaveWritesEverythingLoadReads) {
  TempDir dir;
  IniFile ini(dir / "Plimo.ini");
  AppSettings s = AppSettings::defaults("N");
  s.relayHost = "relay.example";
  s.relayPort = 5000;
  s.tcpPorts = "443";
  s.relayKey = "KEY";
  s.pinnedID = "123456789";
  s.pinSecret = "SECRET";
  s.profileName = "Helper";
  s.profileCompany = "Co";
  s.profileEmail = "e@x";
  s.profilePhone = "1";
  s.profilePicture = "/p.png";
  s.hideWallpaper = false;
  s.commandAsControl = true;
  s.helperCtrlAsCommand = false;
  ASSERT_TRUE(s.save(ini));
  IniFile reread(dir / "Plimo.ini");
  reread.load();
  EXPECT_EQ(AppSettings::load(reread, UserDefaults(), "other"), s);
}

// Unset or unreadable, sharing follows the PC: an unattended PC's clipboard
// opens only when its file says so in so many words.
TEST(AppSettings, ClipboardFollowsThePCUnlessTheFileSetsIt) {
  struct Row {
    const char* file;
    bool attended, unattended;
  };
  const Row table[] = {{"", true, false},
                       {"[Session]\nClipboard=1\n", true, true},
                       {"[Session]\nClipboard=0\n", false, false},
                       {"[Session]\nClipboard=yes\n", true, false}};
  for (const auto& row : table) {
    TempDir dir;
    writeFile(dir / "Plimo.ini", row.file);
    IniFile ini(dir / "Plimo.ini");
    ini.load();
    const AppSettings s = AppSettings::load(ini, UserDefaults(), "");
    EXPECT_EQ(s.shareClipboard(false), row.attended) << row.file;
    EXPECT_EQ(s.shareClipboard(true), row.unattended) << row.file;
    ASSERT_TRUE(s.save(ini));
    IniFile reread(dir / "Plimo.ini");
    reread.load();
    EXPECT_EQ(AppSettings::load(reread, UserDefaults(), "").clipboard, s.clipboard) << "saved as read: " << row.file;
  }
}

// A server given for one run must not move the PC to it for good, nor carry
// its key over to the file's server.
TEST(AppSettings, SaveWithCommandLineServerLeavesTheFilesServer) {
  TempDir dir;
  writeFile(dir / "Plimo.ini", "[Relay]\nHost= relay.example \nPort=47800\nKey=FILEKEY\n");
  IniFile ini(dir / "Plimo.ini");
  ini.load();
  UserDefaults defaults;
  defaults.set("relayHost", "other.example");
  defaults.set("relayPort", "5000");
  AppSettings s = AppSettings::load(ini, defaults, "");
  EXPECT_EQ(s.relayHost, "other.example");
  s.relayKey = "OTHERKEY";
  s.profileName = "Changed";
  ASSERT_TRUE(s.save(ini));
  IniFile reread(dir / "Plimo.ini");
  reread.load();
  EXPECT_EQ(reread.string("Relay", "Host", ""), " relay.example");
  EXPECT_EQ(reread.string("Relay", "Port", ""), "47800");
  EXPECT_EQ(reread.string("Relay", "Key", ""), "FILEKEY");
  EXPECT_EQ(reread.string("Profile", "Name", ""), "Changed");

  // A server the user then picks is theirs to keep.
  s.relayHost = "chosen.example";
  s.relayPort = 6000;
  ASSERT_TRUE(s.save(ini));
  reread.load();
  EXPECT_EQ(reread.string("Relay", "Host", ""), "chosen.example");
  EXPECT_EQ(reread.string("Relay", "Port", ""), "6000");
  EXPECT_EQ(reread.string("Relay", "Key", ""), "OTHERKEY");
}

TEST(RecentPC, LoadCleansIdsDropsDuplicatesAndSaveRenumbers) {
  TempDir dir;
  writeFile(dir / "Plimo.ini",
            "[Recent]\nCount=5\nId0=123 456 789\nName0=Alice\nId2=123-456-789\nName2=Dup\n"
            "Id3=987654321\nId4=12345678\n");
  IniFile ini(dir / "Plimo.ini");
  ini.load();
  auto list = RecentPC::load(ini);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0], (RecentPC{"123456789", "Alice"}));
  EXPECT_EQ(list[1], (RecentPC{"987654321", ""}));

  ASSERT_TRUE(RecentPC::save(list, ini));
  EXPECT_EQ(readFile(dir / "Plimo.ini"),
            "[Recent]\r\nCount=2\r\nId0=123456789\r\nName0=Alice\r\nId1=987654321\r\nName1=\r\n\r\n");
}

TEST(RecentPC, AbsurdCountDoesNotHang) {
  TempDir dir;
  writeFile(dir / "Plimo.ini", "[Recent]\nCount=2000000000\nId0=111222333\n");
  IniFile ini(dir / "Plimo.ini");
  ini.load();
  EXPECT_EQ(RecentPC::load(ini).size(), 1u);
}

TEST(UserDefaults, ReadsKnownPairsOnly) {
  auto d = UserDefaults::fromArguments({"--headless", "-autoConnect", "123456789", "-unknown", "x", "-reportTo"});
  EXPECT_EQ(d.string("autoConnect"), "123456789");
  EXPECT_EQ(d.string("unknown"), std::nullopt);
  EXPECT_EQ(d.string("reportTo"), std::nullopt);
  EXPECT_EQ(d.integer("autoConnect"), 123456789);
}
