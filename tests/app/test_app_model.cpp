#include <gtest/gtest.h>

#include "app/AppModel.h"
#include "core/ManualLoop.h"
#include "platform/fake/FakeSystem.h"
#include "support/IniFile.h"
#include "testkit/FakeSockets.h"
#include "testkit/TempDir.h"

using namespace plimo;
using testkit::readFile;
using testkit::TempDir;
using testkit::writeFile;

namespace {

struct ModelFixture : ::testing::Test {
  TempDir dir;
  ManualLoop loop;
  FakeSystem system;
  IniFile ini{dir / "Plimo.ini"};
  testkit::FakeSocketFactory sockets{loop};

  std::unique_ptr<AppModel> make(UserDefaults defaults = {}) {
    ini.load();
    return std::make_unique<AppModel>(loop, system, sockets, ini, std::move(defaults));
  }
  std::vector<std::string> logLines() {
    std::vector<std::string> lines;
    std::string text = readFile(dir / "Plimo.log");
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
      lines.push_back(text.substr(start, nl - start));
    return lines;
  }
};

}  // namespace

TEST_F(ModelFixture, StartsWithInitialValuesAndTheStartLine) {
  writeFile(dir / "Plimo.ini", "[Relay]\nHost=relay.example\n[Session]\nUnattended=2\n[Recent]\nCount=1\nId0=111222333\nName0=Bob\n");
  system.control = false;
  auto model = make();
  EXPECT_EQ(model->link().serverLight().get(), AppModel::Light::amber);
  EXPECT_EQ(model->link().serverText().get(), "Connecting to server...");
  EXPECT_EQ(model->link().myID().get(), "0");
  EXPECT_EQ(model->sessions().sessionLight().get(), AppModel::Light::grey);
  EXPECT_EQ(model->sessions().sessionTitle().get(), "No active session");
  EXPECT_EQ(model->sessions().sessionDetail().get(), "Sessions are encrypted end to end with AES-256");
  EXPECT_EQ(model->sessions().checkNumber().get(), "--- ---");
  EXPECT_TRUE(model->unattended());
  EXPECT_TRUE(model->canRecordScreen().get());
  EXPECT_FALSE(model->canControl().get());
  EXPECT_EQ(model->settings().get().profileName, "Ada Lovelace");
  EXPECT_EQ(model->recent().get(), (std::vector<RecentPC>{{"111222333", "Bob"}}));
  EXPECT_EQ(model->serverAddress(), "relay.example:47800");
  EXPECT_EQ(model->logURL, dir / "Plimo.log");

  auto lines = logLines();
  ASSERT_GE(lines.size(), 1u);
  // "yyyy-MM-dd HH:mm:ss  text"
  ASSERT_GT(lines[0].size(), 21u);
  EXPECT_EQ(lines[0][4], '-');
  EXPECT_EQ(lines[0][10], ' ');
  EXPECT_EQ(lines[0].substr(19, 2), "  ");
  EXPECT_EQ(lines[0].substr(21), "--- Plimo for Linux started (version " + AppModel::version() + ") ---");
}

TEST_F(ModelFixture, LogStartsOverOnlyPastTwoMillionBytes) {
  auto model = make();
  writeFile(dir / "Plimo.log", std::string(2'000'000, 'x'));
  model->log("kept");
  EXPECT_EQ(std::filesystem::file_size(dir / "Plimo.log"), 2'000'000u + 21 + 4 + 1);

  writeFile(dir / "Plimo.log", std::string(2'000'001, 'x'));
  model->log("fresh");
  auto lines = logLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(21), "fresh");
}

TEST_F(ModelFixture, LogThatCannotBeWrittenNeverFailsTheCaller) {
  auto model = make();
  std::filesystem::remove(dir / "Plimo.log");
  std::filesystem::create_directory(dir / "Plimo.log");
  model->log("nowhere to go");
  SUCCEED();
}

TEST_F(ModelFixture, PartnerIdValidity) {
  auto model = make();
  for (auto [text, valid] : std::vector<std::pair<std::string, bool>>{{"123 456 789", true},
                                                                        {"123-456-789", true},
                                                                        {"123 - 456 - 789", true},
                                                                        {"12345678", false},
                                                                        {"12345678a", false},
                                                                        {"1234567890", false},
                                                                        {"", false}}) {
    model->setPartnerID(text);
    EXPECT_EQ(model->partnerIDIsValid(), valid) << text;
  }
}

TEST_F(ModelFixture, RenameAndRemoveRecentEntriesAreSaved) {
  writeFile(dir / "Plimo.ini", "[Recent]\nCount=3\nId0=111111111\nName0=A\nId1=222222222\nId2=333333333\nName2=C\n");
  auto model = make();
  model->rename({"222222222", ""}, "  Bea  ");
  model->rename({"333333333", "not the name"}, "ignored");
  model->remove({"111111111", "whatever"});

  IniFile reread(dir / "Plimo.ini");
  reread.load();
  auto saved = RecentPC::load(reread);
  EXPECT_EQ(saved, (std::vector<RecentPC>{{"222222222", "Bea"}, {"333333333", "C"}}));
  EXPECT_EQ(model->recent().get(), saved);
}

TEST_F(ModelFixture, LogIsPrivate) {
  auto model = make();
  EXPECT_EQ(std::filesystem::status(dir / "Plimo.log").permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(ModelFixture, UnwritableSettingsAreLoggedAndTheModelGoesOn) {
  std::filesystem::create_directory(dir / "Plimo.ini");  // no file can replace a folder
  auto model = make();
  // In this order each is one write: unattended access keeps the ID too.
  model->setKeepID(true);
  model->setUnattended(true);
  EXPECT_TRUE(model->unattended());
  EXPECT_TRUE(model->keepID());
  const std::string failure = "Could not save " + (dir / "Plimo.ini").string() + ": Is a directory";
  int failures = 0;
  for (auto& line : logLines())
    if (line.substr(21) == failure) ++failures;
  EXPECT_EQ(failures, 2);
}

TEST_F(ModelFixture, CommandLineServerNeverReachesTheFile) {
  writeFile(dir / "Plimo.ini", "[Relay]\nHost=relay.example\nPort=47800\n");
  UserDefaults defaults;
  defaults.set("relayHost", "other.example");
  defaults.set("relayPort", "5000");
  auto model = make(defaults);
  EXPECT_EQ(model->serverAddress(), "other.example:5000");
  model->setKeepID(true);
  AppSettings edited = model->settings().get();
  edited.profileName = "Edited";
  model->saveSettings(edited);
  IniFile reread(dir / "Plimo.ini");
  reread.load();
  EXPECT_EQ(reread.string("Relay", "Host", ""), "relay.example");
  EXPECT_EQ(reread.string("Relay", "Port", ""), "47800");
  EXPECT_EQ(reread.string("Profile", "Name", ""), "Edited");
  EXPECT_EQ(reread.string("ID", "Secret", ""), model->settings().get().pinSecret);
}

TEST_F(ModelFixture, UnattendedSwitchIsStoredAndLogged) {
  auto model = make();
  model->setUnattended(true);
  IniFile reread(dir / "Plimo.ini");
  reread.load();
  EXPECT_EQ(reread.string("Session", "Unattended", ""), "1");
  EXPECT_EQ(logLines().back().substr(21), "Unattended access turned on");
}

// A name that carries a line end and a time stamp would add a line of its
// own (here a denial that never happened); terminal codes would act on
// whoever reads the log with cat or tail.
TEST_F(ModelFixture, AHelperNameCannotForgeALogLine) {
  auto model = make();
  const std::string name = "Eve\n2026-01-01 12:00:00  [host] the session was declined\x1b[2J\xC2\x9B" "31m";
  model->log("[host] Being helped by " + name);
  auto lines = logLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().substr(21),
            "[host] Being helped by Eve\\x0a2026-01-01 12:00:00  [host] the session was declined\\x1b[2J\\x9b31m");
  EXPECT_EQ(lines.size(), 2u);  // the start line and this one
  EXPECT_EQ(readFile(dir / "Plimo.log").find('\x1b'), std::string::npos);
}
