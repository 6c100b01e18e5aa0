#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "support/IniFile.h"
#include "testkit/TempDir.h"

using namespace plimo;
using testkit::readFile;
using testkit::TempDir;
using testkit::writeFile;

TEST(IniFile, HandWrittenFileReadsAsPeopleMeantIt) {
  TempDir dir;
  // BOM, CR LF, bare LF, bare CR, a Unicode line separator, comments, a
  // duplicate section, mixed-case keys, entries above the first header.
  writeFile(dir / "Plimo.ini",
            "\xEF\xBB\xBF"
            "Orphan=1\r\n"
            "; a comment\r\n"
            "[Relay]\r\n"
            "  Host  = relay.example.com  \r\n"
            "Port=47800\n"
            "TcpPort=8443,443\r"
            "#Hash=yes\xE2\x80\xA8"
            "no equals here\n"
            "\t[ID]\t\n"
            "Secret=abc=def\n"
            "[relay]\n"
            "Host=second\n");
  IniFile ini(dir / "Plimo.ini");
  ini.load();
  EXPECT_EQ(ini.string("RELAY", "host", "x"), " relay.example.com");
  EXPECT_EQ(ini.integer("relay", "PORT", 0), 47800);
  EXPECT_EQ(ini.string("Relay", "TcpPort", ""), "8443,443");
  EXPECT_EQ(ini.string("Relay", "#Hash", ""), "yes");
  EXPECT_EQ(ini.string("ID", "Secret", ""), "abc=def");
  EXPECT_EQ(ini.string("", "Orphan", "none"), "none");
  EXPECT_EQ(ini.keys("Relay"), (std::vector<std::string>{"Host", "Port", "TcpPort", "#Hash"}));
  EXPECT_EQ(ini.sections().size(), 3u);

  ini.set("relay", "HOST", "new");
  ini.set("Viewer", "Scale", "2");
  ASSERT_TRUE(ini.save());
  EXPECT_EQ(readFile(dir / "Plimo.ini"),
            "[Relay]\r\nHost=new\r\nPort=47800\r\nTcpPort=8443,443\r\n#Hash=yes\r\n\r\n"
            "[ID]\r\nSecret=abc=def\r\n\r\n"
            "[relay]\r\nHost=second\r\n\r\n"
            "[Viewer]\r\nScale=2\r\n\r\n");
}

TEST(IniFile, IntegersParseStrictly) {
  IniFile ini("/nonexistent/Plimo.ini");
  ini.load();
  ini.set("Relay", "Port", "12x");
  EXPECT_EQ(ini.integer("Relay", "Port", 47800), 47800);
  ini.set("Relay", "Port", " +80 ");
  EXPECT_EQ(ini.integer("Relay", "Port", 47800), 80);
  ini.set("Relay", "Port", "\t-7");
  EXPECT_EQ(ini.integer("Relay", "Port", 47800), -7);
  for (const char* bad : {"", "+", "0x10", "9223372036854775808", "1 2"}) {
    ini.set("Relay", "Port", bad);
    EXPECT_EQ(ini.integer("Relay", "Port", 47800), 47800) << bad;
  }
}

TEST(IniFile, RemoveDeletesEveryMatchingKeyOfTheFirstSectionOnly) {
  IniFile ini("/nonexistent/Plimo.ini");
  auto parsed = IniFile::parse("[A]\nk=1\nK=2\nx=3\n[a]\nk=4\n");
  for (const auto& section : parsed)
    for (const auto& [k, v] : section.entries) ini.set(section.name, k, v);
  ini.remove("a", "K");
  EXPECT_EQ(ini.keys("A"), (std::vector<std::string>{"x"}));
}

TEST(IniFile, BadFilesGiveNoSectionsAndNoCrash) {
  TempDir dir;
  IniFile missing(dir / "missing.ini");
  missing.load();
  EXPECT_TRUE(missing.sections().empty());

  // A folder where the file should be cannot be read.
  std::filesystem::create_directory(dir / "folder.ini");
  IniFile folder(dir / "folder.ini");
  folder.load();
  EXPECT_TRUE(folder.sections().empty());

  std::string binary;
  std::mt19937 random(7);
  for (int i = 0; i < 100000; ++i) binary += char(random());
  binary += "\n[Relay]\nHost=\xFF\xFEok\n";
  writeFile(dir / "binary.ini", binary);
  IniFile garbage(dir / "binary.ini");
  garbage.load();
  EXPECT_EQ(garbage.string("Relay", "Host", ""), "\xEF\xBF\xBD\xEF\xBF\xBDok");

  writeFile(dir / "huge.ini", "[Relay]\nHost=h\n" + std::string(IniFile::maxFileSize, 'x'));
  IniFile huge(dir / "huge.ini");
  huge.load();
  EXPECT_TRUE(huge.sections().empty());
}

TEST(IniFile, SaveFailureKeepsContentInMemory) {
  IniFile ini("/nonexistent-folder/Plimo.ini");
  ini.set("Relay", "Host", "h");
  auto saved = ini.save();
  ASSERT_FALSE(saved);
  EXPECT_EQ(saved.error(), std::make_error_code(std::errc::no_such_file_or_directory).message());
  EXPECT_EQ(ini.string("Relay", "Host", ""), "h");
}

// The file holds the secret that keeps the ID: nobody else may read it, nor
// list the folder it lies in.
TEST(IniFile, SettingsFolderAndFileArePrivate) {
  auto mode = [](const std::filesystem::path& path) {
    struct stat info{};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
  };
  TempDir dir;
  const char* before = std::getenv("PLIMO_HOME");
  std::string saved = before ? before : "";
  setenv("PLIMO_HOME", (dir / "Plimo").c_str(), 1);
  auto folder = IniFile::appFolder();
  if (before) setenv("PLIMO_HOME", saved.c_str(), 1); else unsetenv("PLIMO_HOME");
  ASSERT_EQ(folder, dir / "Plimo");
  EXPECT_EQ(mode(folder), 0700u);

  IniFile ini(folder / "Plimo.ini");
  ini.set("ID", "Secret", "s");
  ASSERT_TRUE(ini.save());
  EXPECT_EQ(mode(folder / "Plimo.ini"), 0600u);

  // One written by an older version, open to all, is closed at the next save.
  ::chmod((folder / "Plimo.ini").c_str(), 0644);
  ASSERT_TRUE(ini.save());
  EXPECT_EQ(mode(folder / "Plimo.ini"), 0600u);
}

// A writer killed at random moments leaves either the old file or the new one.
TEST(IniFile, InterruptedSaveLeavesOldOrNewFile) {
  TempDir dir;
  auto path = dir / "Plimo.ini";
  std::string big(50000, 'v');
  const std::string versionA = IniFile::render({{"S", {{"Value", "A" + big}}}});
  const std::string versionB = IniFile::render({{"S", {{"Value", "B" + big}}}});
  writeFile(path, versionA);
  std::mt19937 random(42);
  for (int round = 0; round < 20; ++round) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      IniFile ini(path);
      for (int i = 0;; ++i) {
        ini.set("S", "Value", (i % 2 ? "A" : "B") + big);
        (void)ini.save();
      }
    }
    usleep(1000 + random() % 20000);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    std::string now = readFile(path);
    ASSERT_TRUE(now == versionA || now == versionB) << "round " << round << ": " << now.size() << " bytes";
  }
}
