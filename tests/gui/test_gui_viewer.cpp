// The helper's window on a real viewer session fed by the test as its host:
// the texts over the picture as the session's state moves, the keys and
// screen menus' input and messages, chat, the size choices and the window's
// proportions, and each way the window can end; screenshots of it waiting,
// running and chatting.

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRect>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>

#include "gui/Shots.h"
#include "support/IniFile.h"
#include "testkit/TempDir.h"
#include "testkit/ViewerRig.h"
#include "testkit/ViewerSessionTestKit.h"
#include "ui/HelperWindows.h"
#include "ui/ScreenView.h"
#include "ui/ViewerOverlays.h"
#include "ui/ViewerWindow.h"

namespace plimo {
namespace {

using Kit = testkit::ViewerSessionTestKit;
using testkit::frame;
using testkit::update;

using testing::shoot;

// Something like a desktop: a blue gradient with a light window on it.
std::array<uint8_t, 3> desktop(int x, int y) {
  if (x > 180 && x < 760 && y > 110 && y < 470) {
    if (y < 140) return {0x60, 0x50, 0x40};
    return (y / 24) % 2 ? std::array<uint8_t, 3>{0xf4, 0xf4, 0xf4} : std::array<uint8_t, 3>{0xe8, 0xe8, 0xe8};
  }
  return {uint8_t(160 + y / 8), uint8_t(90 + y / 10), uint8_t(30 + x / 20)};
}

struct ViewerWindowTest : ::testing::Test {
  testkit::ViewerRig rig;
  testkit::TempDir dir{"viewer-window"};
  IniFile ini{dir / "Plimo.ini"};
  std::vector<std::string> logs;
  HelperWindows windows{rig.loop, ini, [this](std::string_view line) { logs.emplace_back(line); }};
  int disconnects = 0;
  ViewerWindow* window = nullptr;

  void open(ViewerWindows::Facts facts = {"Ada", false, true}) {
    rig.session->setDisplay(&windows.showViewer(*rig.session, facts, [this] { ++disconnects; }));
    window = windows.viewer();
    ASSERT_NE(window, nullptr);
    QApplication::processEvents();
    rig.loop.advance(0.02);  // the start-up messages go out, and are put aside
    messages();
  }
  template <typename T = QWidget>
  T* find(const char* name) const {
    T* found = window->findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  QString text(const char* name) const { return find<QLabel>(name)->text(); }
  bool shown(const char* name) const { return find(name)->isVisibleTo(window); }
  std::vector<QAction*> menu(const char* name) const {
    std::vector<QAction*> out;
    for (QAction* a : find<QToolButton>(name)->menu()->actions())
      if (!a->isSeparator()) out.push_back(a);
    return out;
  }
  void status(uint8_t mode, uint8_t admin, uint8_t secure) {
    rig.session->receive(Bytes{SessionPacket::kHostStatus, mode, admin, secure});
    QApplication::processEvents();
  }
  void picture(int w = 960, int h = 540) {
    rig.picture(frame(0, update(w, h, w, h, desktop)));
    QApplication::processEvents();
  }
  // The channel messages the session sent since the last look, as the host reads them.
  std::vector<ChannelMsg> messages() {
    std::vector<ChannelMsg> out;
    for (auto& p : rig.sent)
      if (p[0] == SessionPacket::kChannelMsg)
        for (auto& m : rig.host.handleMsg(p)) out.push_back(m);
    rig.sent.clear();
    return out;
  }
  std::vector<std::pair<int, int>> input() const {
    std::vector<std::pair<int, int>> out;
    for (const InputEvent& e : rig.session->inputs().pending()) out.emplace_back(e.kind, e.data);
    return out;
  }
  void key(uint32_t keysym, bool down) {
    QKeyEvent e(down ? QEvent::KeyPress : QEvent::KeyRelease, 0, {}, 0, keysym, 0);
    QApplication::sendEvent(&window->view(), &e);
  }
};

TEST_F(ViewerWindowTest, TitleStatusOverlayBannerAndBadgesFollowTheSession) {
  open();
  EXPECT_EQ(window->windowTitle(), "Plimo - Ada (123 456 789)");
  EXPECT_EQ(text("waitingCheck"), "Ask them to check that their screen shows check number 417 203");
  struct Step {
    const char* name;
    std::function<void()> act;
    const char* status;
    const char* waiting;  // nullptr: no overlay
    bool banner;
    const char* rendering;  // nullptr: no badge
    const char* said = nullptr;  // the helped PC's words over the waiting picture
  };
  const Step steps[] = {
      {"at the start", [] {}, "Waiting for permission", "Waiting for the other person to allow the session...",
       false, nullptr},
      {"view only", [&] { status(0, 0, 0); }, "View only", "Waiting for the first picture...", false, nullptr},
      {"control without admin", [&] { status(1, 0, 0); }, "You have control · admin windows not available",
       "Waiting for the first picture...", false, nullptr},
      {"on a secure screen with admin", [&] { status(1, 1, 1); }, "You have control · admin windows available",
       "Waiting for the first picture...", true, nullptr},
      {"the first picture", [&] { picture(); }, "You have control · admin windows available", nullptr, true,
       "Basic mode"},
      {"paused", [&] { status(2, 1, 0); }, "Paused by the other person · admin windows available",
       "Paused by the other person", false, "Basic mode"},
      {"view only without admin", [&] { status(0, 0, 0); }, "View only", nullptr, false, "Basic mode"},
      // Video decoding is the decoder's to test; here only its label counts.
      {"video hardware", [&] { Kit::setRendering(*rig.session, Rendering::videoHardware); }, "View only", nullptr,
       false, "Enhanced mode"},
      {"video software", [&] { Kit::setRendering(*rig.session, Rendering::videoSoftware); }, "View only", nullptr,
       false, "Software rendering"},
      {"a bad update", [&] { rig.picture(frame(0, Bytes{1, 2, 3})); }, "View only",
       "Waiting for the first picture...", false, "Software rendering"},
      {"a mode this PC does not know", [&] { status(7, 1, 0); }, "Waiting for permission · admin windows available",
       "Waiting for the first picture...", false, "Software rendering"},
      {"the helped PC says why no picture comes",
       [&] { rig.message(1, toBytes("The helped PC has no screen to share.\x1b[2J<b>")); },
       "Waiting for permission · admin windows available", "Waiting for the first picture...", false,
       "Software rendering", "The other PC says: The helped PC has no screen to share.\x1b[2J<b>"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    s.act();
    EXPECT_EQ(text("status"), s.status);
    EXPECT_EQ(shown("waiting"), s.waiting != nullptr);
    if (s.waiting) {
      EXPECT_EQ(text("waitingTitle"), s.waiting);
    }
    EXPECT_EQ(shown("waitingCheck"), !rig.session->gotFirstFrame().get());
    EXPECT_EQ(shown("waitingPartnerSaid"), s.said != nullptr);
    if (s.said) {
      EXPECT_EQ(text("waitingPartnerSaid"), s.said);
      shoot(*window, "viewer-partner-says");
    }
    EXPECT_EQ(shown("secureBanner"), s.banner);
    EXPECT_EQ(shown("renderingBadge"), s.rendering != nullptr);
    if (s.rendering) {
      EXPECT_EQ(text("renderingBadge"), s.rendering);
    }
    EXPECT_EQ(find<QToolButton>("keysMenu")->isEnabled(), rig.session->mode().get() == SessionMode::control);
    if (std::string(s.name) == "at the start") shoot(*window, "viewer-waiting");
  }
}

TEST_F(ViewerWindowTest, RunningWithTheLiveBadgeAndAnUnknownPartner) {
  open({"", true, true});
  EXPECT_EQ(window->windowTitle(), "Plimo - 123 456 789");
  status(1, 0, 0);
  for (int i = 0; i < 3; ++i) picture(1280, 720);
  rig.loop.advance(ViewerOverlays::kLivePeriod);
  QApplication::processEvents();
  EXPECT_EQ(text("liveBadge"), "Through the server · 3 pictures/s · tiles");
  EXPECT_EQ(window->view().remoteWidth(), 1280);
  rig.message(1, toBytes("Thanks!"));
  EXPECT_EQ(text("chatBadge"), "1");
  shoot(*window, "viewer-running");
  rig.loop.advance(ViewerOverlays::kLivePeriod);
  EXPECT_EQ(text("liveBadge"), "Through the server · 0 pictures/s · tiles");
  // The host answers the helper's first input 34 ms after it went out.
  rig.session->sendInput(InputEvent::move, 10, 10, 0);
  rig.loop.advance(0.034);
  Bytes ack{SessionPacket::kInputAck};
  appendLE<uint32_t>(ack, 1);
  rig.session->receive(ack);
  rig.loop.advance(ViewerOverlays::kLivePeriod);
  EXPECT_EQ(text("liveBadge"), "Through the server · 34 ms · 0 pictures/s · tiles");
}

TEST_F(ViewerWindowTest, KeysMenuSendsTheCombinationsAdminAndRefreshInOrder) {
  open();
  status(1, 0, 0);
  messages();
  auto entries = menu("keysMenu");
  std::vector<QString> labels;
  for (QAction* a : entries) labels.push_back(a->text());
  EXPECT_EQ(labels, (std::vector<QString>{"Task Manager (Ctrl + Shift + Esc)", "Windows key", "Alt + Tab",
                                          "Show desktop (Win + D)", "Ask for admin rights", "Refresh the picture"}));
  for (QAction* a : entries) a->trigger();
  constexpr int down = InputEvent::keyDown, up = InputEvent::keyUp;
  EXPECT_EQ(input(), (std::vector<std::pair<int, int>>{{down, 0x11}, {down, 0x10}, {down, 0x1B}, {up, 0x1B},
                                                        {up, 0x10},   {up, 0x11},   {down, 0x5B}, {up, 0x5B},
                                                        {down, 0x12}, {down, 0x09}, {up, 0x09},   {up, 0x12},
                                                        {down, 0x5B}, {down, 0x44}, {up, 0x44},   {up, 0x5B}}));
  bool refreshed = std::count(rig.sent.begin(), rig.sent.end(), Bytes{SessionPacket::kFullPicture}) == 1;
  rig.loop.advance(0.02);
  auto sent = messages();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].kind, 18);
  EXPECT_TRUE(refreshed);
}

TEST_F(ViewerWindowTest, ScreenMenuWithTwoMonitorsPicksOne) {
  open();
  auto monitors = [&](std::vector<bool> primary) {
    Bytes list{uint8_t(primary.size())};
    for (size_t i = 0; i < primary.size(); ++i) {
      for (int v : {int(i) * 1920, 0, 1920 - int(i) * 640, 1080 - int(i) * 312}) appendLE<uint32_t>(list, uint32_t(v));
      list.push_back(primary[i]);
    }
    rig.message(7, list);
    QApplication::processEvents();
  };
  monitors({true});
  EXPECT_FALSE(shown("screenMenu"));
  monitors({false, true});
  ASSERT_TRUE(shown("screenMenu"));
  EXPECT_EQ(find<QToolButton>("screenMenu")->text(), "Screen 2");
  EXPECT_EQ(find<QToolButton>("screenMenu")->toolTip(), "Choose which screen of the other PC to show");
  auto entries = menu("screenMenu");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0]->text(), "Screen 1 - 1920 x 1080");
  EXPECT_EQ(entries[1]->text(), "Screen 2 (main) - 1280 x 768");
  EXPECT_FALSE(entries[0]->isChecked());
  EXPECT_TRUE(entries[1]->isChecked());
  messages();
  entries[0]->trigger();
  EXPECT_EQ(rig.session->currentMonitor().get(), 0);
  EXPECT_EQ(find<QToolButton>("screenMenu")->text(), "Screen 1");
  EXPECT_TRUE(menu("screenMenu")[0]->isChecked());
  rig.loop.advance(0.02);
  EXPECT_EQ(messages(), (std::vector<ChannelMsg>{{8, false, {0}}}));
}

TEST_F(ViewerWindowTest, ChatOpensReadSendsOnReturnAndListsNotices) {
  open();
  status(1, 1, 0);
  rig.message(10, toBytes("Ada|ada|Debian 12"));
  rig.message(1, toBytes("Hello, can you see my screen?"));
  picture();
  EXPECT_FALSE(shown("viewerChat"));
  EXPECT_TRUE(shown("chatBadge"));
  EXPECT_EQ(text("chatBadge"), "1");
  QTest::mouseClick(find<QToolButton>("chat"), Qt::LeftButton);
  EXPECT_TRUE(rig.session->chatOpen().get());
  EXPECT_TRUE(shown("viewerChat"));
  EXPECT_EQ(rig.session->unreadChat().get(), 0);
  EXPECT_FALSE(shown("chatBadge"));
  messages();
  auto* field = find<QLineEdit>("chatField");
  EXPECT_EQ(field->placeholderText(), "Message");
  QTest::keyClicks(field, "  Yes, I can.  ");
  QTest::keyClick(field, Qt::Key_Return);
  EXPECT_TRUE(field->text().isEmpty());
  QTest::keyClick(field, Qt::Key_Return);  // nothing left to send
  rig.loop.advance(0.02);
  EXPECT_EQ(messages(), (std::vector<ChannelMsg>{{1, false, toBytes("Yes, I can.")}}));
  ASSERT_EQ(rig.session->chat().get().size(), 2u);
  QString shownText = find<QTextBrowser>("chatLines")->toPlainText();
  EXPECT_LT(shownText.indexOf("Connected to Ada (user ada), Debian 12"), shownText.indexOf("Hello, can you"));
  EXPECT_LT(shownText.indexOf("Hello, can you"), shownText.indexOf("Yes, I can."));
  shoot(*window, "viewer-chat");
}

TEST_F(ViewerWindowTest, SizeChoicesAreStoredAndTheWindowKeepsTheScreensShape) {
  open();
  picture(1280, 720);
  window->resize(1280, 500);
  QApplication::processEvents();
  // The height follows the width: 1280 × 720 ÷ 1280, and the toolbar.
  EXPECT_EQ(window->height(), 720 + 46);
  QTest::mouseClick(find<QToolButton>("chat"), Qt::LeftButton);
  QApplication::processEvents();
  EXPECT_EQ(window->height(), 551 + 46);  // (1280 − 300) × 720 ÷ 1280 = 551.25
  auto size = menu("sizeMenu");
  ASSERT_EQ(size.size(), 4u);
  size[1]->trigger();  // original size
  EXPECT_EQ(window->view().scale(), ViewScale::original);
  EXPECT_FALSE(window->proportionalHeight(1000));
  IniFile stored(dir / "Plimo.ini");
  stored.load();
  EXPECT_EQ(stored.integer("Viewer", "Scale", -1), 2);
  menu("sizeMenu")[0]->trigger();  // fit again
  menu("sizeMenu")[2]->trigger();  // smooth off
  menu("sizeMenu")[3]->trigger();  // proportions off
  stored.load();
  EXPECT_EQ(stored.integer("Viewer", "Scale", -1), 1);
  EXPECT_EQ(stored.integer("Mac", "KeepProportions", -1), 0);
  EXPECT_FALSE(window->proportionalHeight(1000));
  EXPECT_TRUE(logs.empty());
  auto* full = find<QToolButton>("fullScreen");
  EXPECT_EQ(full->toolTip(), "Full screen (Ctrl+Super+F or F11)");
  window->toggleFullScreen();
  QApplication::processEvents();
  EXPECT_EQ(full->toolTip(), "Back to a window (Ctrl+Super+F or F11)");
  window->toggleFullScreen();
  QApplication::processEvents();
  EXPECT_EQ(full->toolTip(), "Full screen (Ctrl+Super+F or F11)");
}

// Each end also leaves the window's place for the next one to open at.
TEST_F(ViewerWindowTest, EveryEndLetsGoOfHeldInputAndOnlyTheHelpersEndDisconnects) {
  struct End {
    const char* name;
    std::function<void(ViewerWindowTest&)> act;
    int disconnects;
  };
  const End ends[] = {
      {"Disconnect", [](ViewerWindowTest& t) { QTest::mouseClick(t.find<QToolButton>("disconnect"), Qt::LeftButton); },
       1},
      {"closing the window", [](ViewerWindowTest& t) { t.window->close(); }, 1},
      {"the session ends", [](ViewerWindowTest& t) { t.windows.closeViewer(); }, 0},
  };
  std::optional<QRect> left;
  for (const End& end : ends) {
    SCOPED_TRACE(end.name);
    disconnects = 0;
    open();
    if (left) {
      EXPECT_EQ(window->geometry(), *left);
    }
    status(1, 0, 0);
    picture();
    window->setGeometry(20 + 30 * int(&end - ends), 40, 700, 400);  // inside the test's screen
    QApplication::processEvents();
    left = window->geometry();
    key('a', true);
    QTest::mousePress(&window->view(), Qt::LeftButton, {}, {100, 100});
    size_t before = rig.session->inputs().pending().size();
    end.act(*this);
    EXPECT_EQ(windows.viewer(), nullptr);
    auto held = input();
    ASSERT_EQ(held.size(), before + 2);
    EXPECT_EQ(held[before], std::pair(int(InputEvent::keyUp), 0x41));
    EXPECT_EQ(held[before + 1], std::pair(int(InputEvent::buttonUp), 0));
    EXPECT_EQ(disconnects, end.disconnects);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    windows.closeViewer();  // the model's end after the helper's: nothing more
    EXPECT_EQ(disconnects, end.disconnects);
    EXPECT_EQ(rig.session->inputs().pending().size(), before + 2);
  }
}

}  // namespace
}  // namespace plimo
