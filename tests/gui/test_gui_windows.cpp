// The windows on virtual time: the remote screen view's placement, pointer
// mapping, panning and keys; the consent panel's countdown and first
// answer; the main window connecting to a typed ID; the session report
// form's refusals and ends; a screenshot of each.

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <cstring>

#include "app/ModelRig.h"
#include "gui/Shots.h"
#include "platform/fake/FakePlatform.h"
#include "ui/ConnectionTestWindow.h"
#include "ui/ConsentPanel.h"
#include "ui/HelpWindow.h"
#include "ui/HostBar.h"
#include "ui/HostChat.h"
#include "ui/HostWindows.h"
#include "ui/MainWindow.h"
#include "ui/ReportWindow.h"
#include "ui/ScreenView.h"
#include "ui/SettingsWindow.h"

namespace plimo {
namespace {

using testing::shoot;

struct Sent {
  uint8_t kind;
  int x, y;
  int32_t data;
  bool operator==(const Sent&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Sent& s) {
  return os << "{" << int(s.kind) << "," << s.x << "," << s.y << "," << s.data << "}";
}

struct FakeRemote final : RemoteInput {
  bool control = true;
  std::vector<Sent> sent;
  bool hasControl() const override { return control; }
  void sendInput(uint8_t kind, int x, int y, int32_t data) override { sent.push_back({kind, x, y, data}); }
};

// A canvas's picture; the view reads `store`, which the caller keeps.
TileCanvas::Image picture(int w, int h, std::shared_ptr<uint8_t[]>& store) {
  store = std::make_shared<uint8_t[]>(size_t(w) * size_t(h) * 4);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = store.get() + (size_t(y) * size_t(w) + size_t(x)) * 4;
      p[0] = uint8_t(x), p[1] = uint8_t(y), p[2] = x < w / 2 ? 255 : 0, p[3] = 255;
    }
  return {w, h, store, {}};
}

struct ViewRig {
  ManualLoop loop;
  FakeRemote remote;  // outlives the view, which lets go of held keys when it goes
  QScrollArea area;
  ScreenView* view = new ScreenView(loop, area);
  std::shared_ptr<uint8_t[]> canvas;
  ViewRig(int viewW, int viewH, int remoteW, int remoteH, ViewScale scale = ViewScale::fit) {
    view->setInput(&remote);
    view->setScale(scale);
    area.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area.resize(viewW, viewH);
    area.show();
    view->show(picture(remoteW, remoteH, canvas));
    QApplication::processEvents();
  }
  void key(uint32_t keysym, bool down, Qt::KeyboardModifiers mods = {}) {
    QKeyEvent e(down ? QEvent::KeyPress : QEvent::KeyRelease, 0, mods, 0, keysym, 0);
    QApplication::sendEvent(view, &e);
  }
};

constexpr uint8_t kMove = 1, kDown = 2, kUp = 3, kWheel = 4, kKeyDown = 5, kKeyUp = 6;

TEST(ScreenView, EdgeCasesOfPlacementMappingAndInput) {
  struct Case {
    const char* name;
    int viewW, viewH, remoteW, remoteH;
    ViewScale scale;
    std::function<void(ViewRig&)> act;
    std::vector<Sent> expect;
    std::function<void(ViewRig&)> check;
  };
  auto click = [](QPoint at) {
    return [at](ViewRig& r) { QTest::mouseClick(r.view, Qt::LeftButton, {}, at); };
  };
  std::vector<Case> cases = {
      {"fit 1080p in 960x800 clicks the middle", 960, 800, 1920, 1080, ViewScale::fit, click({480, 400}),
       {{kMove, 960, 540, 0}, {kDown, 960, 540, 0}, {kUp, 960, 540, 0}},
       [](ViewRig& r) { EXPECT_EQ(r.view->destination(), (ViewRect{0, 130, 960, 540})); }},
      {"a click on the bar above maps to row 0", 960, 800, 1920, 1080, ViewScale::fit, click({100, 20}),
       {{kMove, 200, 0, 0}, {kDown, 200, 0, 0}, {kUp, 200, 0, 0}}, nullptr},
      {"fit enlarges a small picture", 800, 600, 400, 300, ViewScale::fit, click({799, 599}),
       {{kMove, 399, 299, 0}, {kDown, 399, 299, 0}, {kUp, 399, 299, 0}},
       [](ViewRig& r) { EXPECT_EQ(r.view->destination(), (ViewRect{0, 0, 800, 600})); }},
      {"original size pans right 14 points a tick", 800, 600, 2560, 1440, ViewScale::original,
       [](ViewRig& r) {
         QTest::mouseMove(r.view, {790, 300});
         r.loop.advance(kPanPeriod * 3 + 1e-6);
       },
       {{kMove, 790, 300, 0}},
       [](ViewRig& r) {
         EXPECT_EQ(r.view->size(), QSize(2560, 1440));
         EXPECT_EQ(r.area.horizontalScrollBar()->value(), 42);
         EXPECT_EQ(r.area.verticalScrollBar()->value(), 0);
       }},
      {"Super+C is Ctrl+C", 800, 600, 800, 600, ViewScale::fit,
       [](ViewRig& r) {
         r.key(0xffeb, true), r.key('c', true), r.key('c', false), r.key(0xffeb, false);
       },
       {{kKeyDown, 0, 0, 0x11}, {kKeyDown, 0, 0, 0x43}, {kKeyUp, 0, 0, 0x43}, {kKeyUp, 0, 0, 0x11}}, nullptr},
      {"Shift with a letter, Ctrl+C, F5 and an arrow", 800, 600, 800, 600, ViewScale::fit,
       [](ViewRig& r) {
         for (uint32_t k : {0xffe1u, uint32_t('A'), 0xffe3u, uint32_t('c'), 0xffc2u, 0xff51u}) r.key(k, true);
       },
       {{kKeyDown, 0, 0, 0x10}, {kKeyDown, 0, 0, 0x41}, {kKeyDown, 0, 0, 0x11}, {kKeyDown, 0, 0, 0x43},
        {kKeyDown, 0, 0, 0x74}, {kKeyDown, 0, 0, 0x25}},
       nullptr},
      {"F11 toggles full screen and is not sent", 800, 600, 800, 600, ViewScale::fit,
       [](ViewRig& r) { r.key(0xffc8, true), r.key(0xffc8, false); }, {},
       nullptr},
      {"precise wheel keeps its fraction", 800, 600, 800, 600, ViewScale::fit,
       [](ViewRig& r) {
         // A QWheelEvent carries whole points only: the rule itself gets 0.1.
         ViewInput in;
         in.setRemote(&r.remote);
         for (int i = 0; i < 3; ++i) in.wheel(0, 0.1, {1, 1});
       },
       {{kWheel, 1, 1, 1}}, nullptr},
      {"a notch is 120", 800, 600, 800, 600, ViewScale::fit,
       [](ViewRig& r) {
         QWheelEvent e({10, 10}, r.view->mapToGlobal(QPoint(10, 10)), QPoint(0, 0), QPoint(0, -120),
                       Qt::NoButton, {}, Qt::NoScrollPhase, false);
         QApplication::sendEvent(r.view, &e);
       },
       {{kWheel, 10, 10, -120}}, nullptr},
      {"losing focus lets go of held keys and buttons", 800, 600, 800, 600, ViewScale::fit,
       [](ViewRig& r) {
         QTest::mousePress(r.view, Qt::RightButton, {}, {5, 6});
         r.key('a', true);
         r.view->releaseAll();
       },
       {{kMove, 5, 6, 0}, {kDown, 5, 6, 1}, {kKeyDown, 5, 6, 0x41}, {kKeyUp, 5, 6, 0x41}, {kUp, 5, 6, 1}},
       nullptr},
      {"the Task Manager combination", 800, 600, 800, 600, ViewScale::fit,
       [](ViewRig& r) {
         const int32_t keys[] = {0x11, 0x10, 0x1B};
         r.view->sendCombo(keys);
       },
       {{kKeyDown, 0, 0, 0x11}, {kKeyDown, 0, 0, 0x10}, {kKeyDown, 0, 0, 0x1B}, {kKeyUp, 0, 0, 0x1B},
        {kKeyUp, 0, 0, 0x10}, {kKeyUp, 0, 0, 0x11}},
       nullptr},
      {"view only sends nothing but tracks the pointer", 800, 600, 800, 600, ViewScale::fit,
       [](ViewRig& r) {
         r.remote.control = false;
         QTest::mouseMove(r.view, {30, 40});
         r.remote.control = true;
         r.key('a', true);
       },
       {{kKeyDown, 30, 40, 0x41}}, nullptr},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    ViewRig rig(c.viewW, c.viewH, c.remoteW, c.remoteH, c.scale);
    bool toggled = false;
    rig.view->onToggleFullScreen = [&] { toggled = true; };
    c.act(rig);
    EXPECT_EQ(rig.remote.sent, c.expect);
    if (c.check) c.check(rig);
    if (std::string(c.name).starts_with("F11")) {
      EXPECT_TRUE(toggled);
    }
  }
}

TEST(ScreenView, ShowsThePictureAtFitAndOriginalSize) {
  ViewRig rig(960, 800, 1920, 1080);
  QImage fit = rig.view->grab().toImage();
  EXPECT_EQ(fit.pixelColor(480, 50), QColor(Qt::black));        // the bar above
  EXPECT_EQ(fit.pixelColor(100, 400).red(), 255);                // left half is red
  EXPECT_EQ(fit.pixelColor(900, 400).red(), 0);
  shoot(*rig.view, "screen-view-fit");
  rig.view->setScale(ViewScale::original);
  QApplication::processEvents();
  QImage original = rig.view->grab().toImage();
  EXPECT_EQ(original.size(), QSize(1920, 1080));
  EXPECT_EQ(original.pixelColor(37, 21), QColor(255, 21, 37));  // x in blue, y in green
  EXPECT_EQ(original.pixelColor(1000, 300), QColor(0, 300 % 256, 1000 % 256));
}

TEST(ScreenView, AnUpdateIsPaintedAsAWholePaintWouldPaintIt) {
  struct Case {
    const char* name;
    int viewW, viewH, remoteW, remoteH;
  };
  for (const Case& c : {Case{"reduced and smoothed", 1000, 563, 1920, 1080}, Case{"enlarged", 800, 600, 400, 300}}) {
    SCOPED_TRACE(c.name);
    ViewRig rig(c.viewW, c.viewH, c.remoteW, c.remoteH);
    // The canvas takes a white tile, and the view hears of its area only.
    const TileCanvas::Area tile{101, 57, 64, 64};
    for (int y = tile.y; y < tile.y + tile.height; ++y)
      std::memset(rig.canvas.get() + (size_t(y) * size_t(c.remoteW) + size_t(tile.x)) * 4, 0xFF,
                  size_t(tile.width) * 4);
    rig.view->show({c.remoteW, c.remoteH, rig.canvas, tile});
    QApplication::processEvents();
    const QImage onScreen =
        rig.area.screen()->grabWindow(rig.area.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    const QImage whole = rig.view->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(whole.size(), QSize(c.viewW, c.viewH));
    EXPECT_TRUE(onScreen.copy(0, 0, c.viewW, c.viewH) == whole);
  }
}

struct Consent : ::testing::Test {
  ManualLoop loop;
  FakePlatform platform;
  std::unique_ptr<HostSession> session = std::make_unique<HostSession>(
      loop, platform, SystemInfo{}, HostSession::Link{"123456789", "482 913", "Ada", false, {}, {}, {}},
      HostSession::Events{}, false, true);
  std::vector<HostSession::Answer> answers;
  ConsentPanel panel{loop, *session, [this](HostSession::Answer a) { answers.push_back(a); }};
};

TEST_F(Consent, NoAnswerIn30SecondsDenies) {
  panel.show();
  shoot(panel, "consent-panel");
  loop.advance(29);
  EXPECT_TRUE(answers.empty());
  EXPECT_EQ(panel.secondsLeft(), 1);
  loop.advance(1);
  EXPECT_EQ(answers, std::vector{HostSession::Answer::deny});
  EXPECT_FALSE(panel.isVisible());
  loop.advance(60);
  EXPECT_EQ(answers.size(), 1u);
}

TEST_F(Consent, OnlyTheFirstAnswerCounts) {
  panel.show();
  QTest::mouseClick(panel.button(HostSession::Answer::viewOnly), Qt::LeftButton);
  QTest::mouseClick(panel.button(HostSession::Answer::control), Qt::LeftButton);
  loop.advance(40);
  EXPECT_EQ(answers, std::vector{HostSession::Answer::viewOnly});
}

// A Wayland desktop's portal asks again after the panel: the panel says so
// beforehand, and only there.
TEST_F(Consent, OnAWaylandDesktopThePanelSaysTheDesktopAsksOnceMore) {
  EXPECT_EQ(panel.findChild<QLabel*>("desktopAsks"), nullptr);
  HostWindows windows(loop, nullptr);
  windows.setDesktopAsks(true);
  windows.asker()(*session, [this](HostSession::Answer a) { answers.push_back(a); });
  ASSERT_NE(windows.consent(), nullptr);
  auto* again = windows.consent()->findChild<QLabel*>("desktopAsks");
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->text(), "Your desktop will ask you to allow sharing once more.");
  shoot(*windows.consent(), "consent-panel-wayland");
  windows.consent()->answer(HostSession::Answer::deny);
}

TEST_F(Consent, TheBarAndGlowWhileHelpedCloseWithTheSession) {
  HostWindows windows(loop, nullptr);
  bool stopped = false;
  windows.showRunning(*session, [&] { stopped = true; });
  ASSERT_NE(windows.bar(), nullptr);
  EXPECT_EQ(windows.bar()->status(), "Can see your screen");
  EXPECT_EQ(windows.glowCount(), size_t(QGuiApplication::screens().size()));
  shoot(*windows.bar(), "host-bar");
  session->setPaused(true);
  loop.advance(HostWindows::kRefresh);
  EXPECT_EQ(windows.bar()->status(), "Paused: your helper sees nothing");
  windows.showChat();
  shoot(*windows.chat(), "host-chat");
  EXPECT_EQ(windows.excludedWindowIDs().size(), 2 + windows.glowCount());
  windows.closeAll();
  EXPECT_EQ(windows.bar(), nullptr);
  EXPECT_TRUE(windows.excludedWindowIDs().empty());
  EXPECT_FALSE(stopped);
}

struct MainWindowTest : testkit::LinkFixture {};

TEST_F(MainWindowTest, AnIDTypedWithSpacesAndHyphensConnects) {
  start();
  welcome();
  lines();
  say("ID 555000111");
  QWidget settings, help;
  ConnectionTestWindow test(*model);
  MainWindow window(*model, &settings, &help, &test);
  window.show();
  QTest::keyClicks(window.partnerField(), "123 456-789");
  QTest::mouseClick(window.connectButton(), Qt::LeftButton);
  auto sent = lines();
  ASSERT_FALSE(sent.empty());
  EXPECT_TRUE(sent.back().starts_with("CONNECT 123456789")) << sent.back();
  EXPECT_EQ(window.connectButton()->text(), "Disconnect");
  shoot(window, "main-window");
}

TEST_F(MainWindowTest, EveryOtherWindowOpens) {
  start();
  SettingsWindow settings(*model);
  HelpWindow help;
  ConnectionTestWindow test(*model);
  for (auto [w, name] : {std::pair<QWidget*, const char*>{&settings, "settings-window"},
                         {&help, "help-window"}, {&test, "connection-test-window"}}) {
    w->show();
    shoot(*w, name);
  }
}

TEST(ReportWindowTest, RefusalsKeepTheFormOpenAndEachEndFiresOnce) {
  ReportWindow window;
  std::vector<std::pair<ReportForm::End, std::string>> ends;
  auto open = [&] {
    window.open(ReportDraft({"ref1", 1700000000, 1700001000, 1000, "123456789"}, "Front desk", "Ada"),
                [&](ReportForm::End end, const std::string& payload) { ends.emplace_back(end, payload); });
  };
  auto field = [&](const char* name) { return window.findChild<QLineEdit*>(name); };
  auto click = [&](const char* name) { QTest::mouseClick(window.findChild<QPushButton*>(name), Qt::LeftButton); };
  auto refusal = [&] { return window.findChild<QLabel*>("refusal")->text().toStdString(); };
  open();
  EXPECT_EQ(window.windowTitle().toStdString(), ReportDraft::kTitle);
  EXPECT_EQ(window.size(), QSize(560, 620));
  EXPECT_EQ(field("minutes")->text(), "30");

  click("save");
  EXPECT_EQ(refusal(), ReportDraft::kNeedsSomething);
  EXPECT_TRUE(window.isVisible());
  shoot(window, "report-form-needs");

  auto* description = window.findChild<QPlainTextEdit*>("description");
  // Cut to its most characters, a description of accented letters is still too many bytes.
  description->setPlainText(QString(5000, QChar(0x00e9)));
  click("save");
  EXPECT_EQ(refusal(), ReportDraft::kTooLong);
  EXPECT_TRUE(window.isVisible());
  shoot(window, "report-form-too-long");
  EXPECT_TRUE(ends.empty());

  QTest::keyClicks(field("customer"), "Acme");
  description->setPlainText("Printer driver");
  ReportDraft expected({"ref1", 1700000000, 1700001000, 1000, "123456789"}, "Front desk", "Ada");
  expected.customer = "Acme";
  expected.description = "Printer driver";
  click("save");
  click("save");  // a second click on a closed form is nothing
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0], std::pair(ReportForm::End::saved, expected.save().payload));
  EXPECT_FALSE(window.isVisible());

  struct Case {
    const char* name;
    std::function<void()> act;
    ReportForm::End end;
  };
  for (const auto& c : {Case{"Skip", [&] { click("skip"); }, ReportForm::End::skipped},
                        Case{"closing the window", [&] { window.close(); }, ReportForm::End::closed}}) {
    SCOPED_TRACE(c.name);
    ends.clear();
    open();
    EXPECT_TRUE(refusal().empty());
    c.act();
    window.close();
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0], std::pair(c.end, std::string()));
  }
}

}  // namespace
}  // namespace plimo
