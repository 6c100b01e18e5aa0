// The desktop portal's share against a stand-in portal (portal_template.py,
// python-dbusmock) on a private session bus: the call order, the tokens,
// the Response codes and failures, the restore token's file, and which
// share the platform picks.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "Processes.h"
#include "core/Failure.h"
#include "platform/wayland/DesktopKind.h"
#include "platform/wayland/PortalShare.h"
#include "platform/wayland/ShareAsking.h"
#include "platform/wayland/WaylandPlatform.h"

using namespace plimo;
using namespace plimo::testing;

namespace {

namespace fs = std::filesystem;

bool waitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 500; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::vector<std::string> lines(const fs::path& file) {
  std::vector<std::string> all;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) all.push_back(line);
  return all;
}

// A session bus of the test's own, with nothing it could start by itself,
// and the stand-in portal on it when `parameters` are given.
struct PortalBus {
  fs::path folder = fs::temp_directory_path() / ("plimo-portal-" + std::to_string(getpid()));
  fs::path log = folder / "calls";
  std::unique_ptr<Child> daemon, portal;

  explicit PortalBus(const std::optional<std::string>& parameters) {
    fs::create_directories(folder);
    std::ofstream(folder / "bus.conf")
        << "<busconfig><type>session</type><listen>unix:tmpdir=" << folder.string() << "</listen>"
        << "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
        << "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>";
    daemon = std::make_unique<Child>(std::vector<std::string>{
        "dbus-daemon", "--config-file=" + (folder / "bus.conf").string(), "--nofork", "--print-address=1"});
    auto address = daemon->line(10);
    if (!address) return;
    setenv("DBUS_SESSION_BUS_ADDRESS", address->c_str(), 1);
    if (!parameters) return;
    portal = std::make_unique<Child>(std::vector<std::string>{
        "/usr/bin/python3", "-m", "dbusmock", "--template", PLIMO_SOURCE_DIR "/tests/platform/wayland/portal_template.py",
        "-p", *parameters});
    Bus bus;
    waitFor([&] { return bus.hasName("org.freedesktop.portal.Desktop"); });
  }
  ~PortalBus() {
    portal.reset();
    daemon.reset();
    fs::remove_all(folder);
  }
  bool up() {
    try {
      Bus bus;
      return !portal || bus.hasName("org.freedesktop.portal.Desktop");
    } catch (const Failure&) {
      return false;
    }
  }
};

bool haveMock() {
  return std::system("/usr/bin/python3 -c 'import dbusmock' >/dev/null 2>&1") == 0 &&
         std::system("command -v dbus-daemon >/dev/null 2>&1") == 0;
}

std::string parameters(const std::string& more) {
  const fs::path log = fs::temp_directory_path() / ("plimo-portal-" + std::to_string(getpid())) / "calls";
  return "{\"log\": \"" + log.string() + "\"" + (more.empty() ? "" : ", " + more) + "}";
}

TEST(PortalShare, AGrantAsksInOrderWithFreshTokensKeepsTheNewRestoreTokenAndPlaysInputOnTheStream) {
  if (!haveMock()) GTEST_SKIP() << "python3-dbusmock or dbus-daemon is missing";
  PortalBus bus(parameters("\"streams\": [[42, 0, 0, 1920, 1080], [43, 1920, 0, 1280, 1024]], "
                           "\"restore_token\": \"new-token\""));
  ASSERT_TRUE(bus.up());
  const fs::path tokenFile = bus.folder / "ScreenCast.token";
  ASSERT_TRUE(RestoreToken(tokenFile).keep("old-token"));
  PortalShare share(std::make_unique<Bus>(), RestoreToken(tokenFile));
  std::vector<DesktopShare::Stream> streams;
  ASSERT_NO_THROW(streams = share.start());
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[1].node, 43u);
  EXPECT_EQ(streams[1].display.bounds, (Rect{1920, 0, 1280, 1024}));
  EXPECT_TRUE(streams[0].display.primary);
  EXPECT_FALSE(streams[1].display.primary);
  int fd = share.pipeWireFd();
  EXPECT_GE(fd, 0);
  close(fd);
  share.pointerMotion(streams[1], 10.5, 20);
  share.pointerButton(272, true);
  share.pointerAxisDiscrete(0, -1);
  share.keysym(0x61, false);
  ASSERT_TRUE(waitFor([&] { return lines(bus.log).size() >= 9; }));
  EXPECT_EQ(lines(bus.log), (std::vector<std::string>{
                                "CreateSession handle_token=plimo2 session_handle_token=plimo1",
                                "SelectSources cursor_mode=4 handle_token=plimo3 multiple=true persist_mode=2 "
                                "restore_token=old-token types=1",
                                "SelectDevices handle_token=plimo4 types=3",
                                "Start handle_token=plimo5",
                                "OpenPipeWireRemote",
                                "NotifyPointerMotionAbsolute 43 10.5 20.0",
                                "NotifyPointerButton 272 1",
                                "NotifyPointerAxisDiscrete 0 -1",
                                "NotifyKeyboardKeysym 97 0",
                            }));
  // Used once and replaced, readable by this user only.
  struct stat st {};
  ASSERT_EQ(stat(tokenFile.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(RestoreToken(tokenFile).take(), "new-token");
}

TEST(PortalShare, EveryAnswerButAGrantFailsWithThePersonsText) {
  if (!haveMock()) GTEST_SKIP() << "python3-dbusmock or dbus-daemon is missing";
  struct Case {
    std::string parameters, text, logged;
  } cases[] = {
      {"\"answers\": {\"Start\": 1}", "sharing was not allowed in the desktop's dialog", "Start"},
      {"\"answers\": {\"CreateSession\": 2}", "the desktop could not start a remote desktop session",
       "CreateSession"},
      {"\"answers\": {\"SelectDevices\": 2}", "the desktop could not offer the mouse and keyboard", "SelectDevices"},
      {"\"errors\": [\"SelectSources\"]", "SelectSources: refused by the test", "SelectSources"},
      {"\"streams\": []", "the desktop shared no screen", "Start"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.parameters);
    PortalBus bus(parameters(c.parameters));
    ASSERT_TRUE(bus.up());
    PortalShare share(std::make_unique<Bus>(), RestoreToken(bus.folder / "token"));
    try {
      share.start();
      ADD_FAILURE() << "granted";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.text(), c.text);
    }
    // Nothing is asked after the step that failed.
    auto calls = lines(bus.log);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().substr(0, calls.back().find(' ')), c.logged);
  }
}

TEST(PortalShare, WithoutPointerMetadataThePointerIsDrawnInByTheDesktop) {
  if (!haveMock()) GTEST_SKIP() << "python3-dbusmock or dbus-daemon is missing";
  PortalBus bus(parameters("\"cursor_modes\": 3"));
  ASSERT_TRUE(bus.up());
  PortalShare share(std::make_unique<Bus>(), RestoreToken(bus.folder / "token"));
  ASSERT_NO_THROW(share.start());
  auto calls = lines(bus.log);
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[1].rfind("SelectSources cursor_mode=2 ", 0), 0u) << calls[1];
  // No token kept: none is sent, none is left.
  EXPECT_EQ(calls[1].find("restore_token"), std::string::npos);
  EXPECT_FALSE(fs::exists(bus.folder / "token"));
}

// Debian 12's portal will not keep a share that plays input: asked to, it
// refuses the call, and the share is asked for again without.
TEST(PortalShare, APortalThatWillNotKeepTheShareIsAskedAgainWithoutKeeping) {
  if (!haveMock()) GTEST_SKIP() << "python3-dbusmock or dbus-daemon is missing";
  PortalBus bus(parameters("\"refuse_persist\": true"));
  ASSERT_TRUE(bus.up());
  ASSERT_TRUE(RestoreToken(bus.folder / "token").keep("old-token"));
  PortalShare share(std::make_unique<Bus>(), RestoreToken(bus.folder / "token"));
  ASSERT_NO_THROW(share.start());
  auto calls = lines(bus.log);
  ASSERT_GE(calls.size(), 4u);
  EXPECT_EQ(calls[1], "SelectSources cursor_mode=4 handle_token=plimo3 multiple=true persist_mode=2 "
                      "restore_token=old-token types=1");
  EXPECT_EQ(calls[2], "SelectSources cursor_mode=4 handle_token=plimo4 multiple=true types=1");
  EXPECT_EQ(calls[3], "SelectDevices handle_token=plimo5 types=3");
}

TEST(PortalShare, ThePersonStoppingTheShareFromTheDesktopIsTold) {
  if (!haveMock()) GTEST_SKIP() << "python3-dbusmock or dbus-daemon is missing";
  PortalBus bus(parameters(""));
  ASSERT_TRUE(bus.up());
  PortalShare share(std::make_unique<Bus>(), RestoreToken(bus.folder / "token"));
  std::mutex lock;
  std::string reason;
  share.onClosed = [&](const std::string& why) {
    std::lock_guard guard(lock);
    reason = why;
  };
  ASSERT_NO_THROW(share.start());
  share.watch();
  Bus test;
  test.call(test.method("org.freedesktop.portal.Desktop", "/org/plimo/test", "org.plimo.Test", "CloseSession"));
  EXPECT_TRUE(waitFor([&] {
    std::lock_guard guard(lock);
    return !reason.empty();
  }));
  std::lock_guard guard(lock);
  EXPECT_EQ(reason, "the person at the PC stopped sharing the screen");
}

// The desktop's dialog waits for the person, the session does not: asking
// returns while the dialog is open and the answer comes later; a Stop while
// it is open closes the dialog and the portal's session.
TEST(WaylandPlatform, TheDesktopsDialogIsAskedWithoutWaitingForIt) {
  if (!haveMock()) GTEST_SKIP() << "python3-dbusmock or dbus-daemon is missing";
  struct Case {
    std::optional<int> answer;  // none: stopped while the dialog is open
    std::string failure;
    std::vector<std::string> closing;  // what the portal is told at the end
  } cases[] = {
      {0, "", {"Session.Close"}},
      {2, "the desktop could not share the screen", {"Session.Close"}},
      {1, "sharing was not allowed in the desktop's dialog", {"Session.Close"}},
      {std::nullopt, "", {"Request.Close Start", "Session.Close"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer.value_or(-1));
    PortalBus bus(parameters("\"held\": [\"Start\"]"));
    ASSERT_TRUE(bus.up());
    auto platform = std::make_unique<WaylandPlatform>(WaylandPlatform::Settings{bus.folder / "token", {}});
    std::atomic<int> answered{0};
    std::shared_ptr<void> asking = platform->askToShare([&] { ++answered; });
    ASSERT_TRUE(asking);
    ASSERT_TRUE(waitFor([&] { return !lines(bus.log).empty() && lines(bus.log).back().rfind("Start", 0) == 0; }));
    EXPECT_EQ(answered, 0);
    const size_t asked = lines(bus.log).size();
    if (c.answer) {
      Bus test;
      auto answer = test.method("org.freedesktop.portal.Desktop", "/org/plimo/test", "org.plimo.Test", "Answer");
      sd_bus_message_append(answer.get(), "u", uint32_t(*c.answer));
      test.call(std::move(answer));
      ASSERT_TRUE(waitFor([&] { return answered == 1; }));
      for (int twice = 0; twice < 2; ++twice) {  // a refusal stays: a later screen does not ask again
        try {
          GrantedShare granted = platform->grantedShare();
          EXPECT_EQ(c.failure, "");
          ASSERT_EQ(granted.streams.size(), 1u);
          EXPECT_EQ(granted.streams[0].node, 42u);
          break;
        } catch (const Failure& failure) {
          EXPECT_EQ(failure.text(), c.failure);
        }
      }
    }
    asking.reset();
    platform.reset();
    ASSERT_TRUE(waitFor([&] { return lines(bus.log).size() >= asked + c.closing.size(); }));
    auto calls = lines(bus.log);
    EXPECT_EQ(std::vector<std::string>(calls.begin() + long(asked), calls.end()), c.closing);
    EXPECT_EQ(answered, c.answer ? 1 : 0);
  }
}

// Unattended access needs GNOME's interface; an attended PC needs the
// portal. Either missing is said in plain words, never a black picture.
TEST(WaylandPlatform, AMissingInterfaceIsSaidInPlainWords) {
  if (!haveMock()) GTEST_SKIP() << "python3-dbusmock or dbus-daemon is missing";
  struct Case {
    bool unattended;
    std::string text;
  } cases[] = {
      {true, WaylandPlatform::kNoUnattended},
      {false, "this Wayland desktop offers no screen-sharing portal: install xdg-desktop-portal and the portal of "
              "this desktop (xdg-desktop-portal-gnome or xdg-desktop-portal-kde)"},
  };
  PortalBus bus(std::nullopt);
  ASSERT_TRUE(bus.up());
  for (const Case& c : cases) {
    WaylandPlatform platform({bus.folder / "token", [&] { return c.unattended; }});
    try {
      platform.openShare();
      ADD_FAILURE() << "a share without its interface";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.text(), c.text);
    }
  }
}

// The token file is read as outside bytes: anything but a plausible token
// is dropped, and the file is emptied either way.
TEST(RestoreToken, OnlyAPlausibleTokenIsTakenAndOnlyOnce) {
  const fs::path file = fs::temp_directory_path() / ("plimo-token-" + std::to_string(getpid()));
  struct Case {
    std::string bytes;
    std::optional<std::string> taken;
  } cases[] = {
      {"3f2a-77\n", "3f2a-77"},
      {"3f2a-77", "3f2a-77"},
      {"", std::nullopt},
      {"\n", std::nullopt},
      {"two words\n", std::nullopt},
      {std::string("nul\0byte", 8), std::nullopt},
      {"\x1b[31mred\n", std::nullopt},
      {std::string(300, 'a'), std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    std::ofstream(file, std::ios::binary) << c.bytes;
    EXPECT_EQ(RestoreToken(file).take(), c.taken);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(RestoreToken(file).take(), std::nullopt);
  }
  EXPECT_FALSE(RestoreToken(file).keep("two words"));
  EXPECT_FALSE(fs::exists(file));
}

TEST(DesktopKind, TheSessionTypeWinsThenTheWaylandDisplay) {
  struct Case {
    const char *type, *wayland;
    DesktopKind kind;
  } cases[] = {
      {"wayland", nullptr, DesktopKind::wayland},
      // Xwayland's DISPLAY beside WAYLAND_DISPLAY is still a Wayland desktop.
      {"wayland", "wayland-0", DesktopKind::wayland},
      {"x11", "wayland-0", DesktopKind::x11},
      {"tty", "wayland-0", DesktopKind::wayland},
      {nullptr, "wayland-0", DesktopKind::wayland},
      {"", "", DesktopKind::x11},
      {nullptr, nullptr, DesktopKind::x11},
      {"mir", nullptr, DesktopKind::x11},
  };
  for (const Case& c : cases) EXPECT_EQ(desktopKind(c.type, c.wayland), c.kind) << (c.type ? c.type : "unset");
}

}  // namespace
