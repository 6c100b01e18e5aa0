// The helper's view against a real helped PC, on two X servers: the view on
// the test display (Qt's xcb platform, driven by XTEST there, so real key and
// button events reach it), the helped PC on a private Xvfb with the X11
// capture and XTEST playing, and a small X client there that records what
// arrives. Keys, clicks at fit scale, the keyboard grab, and the picture at
// fit and at original size; a screenshot of each picture.

#include <gtest/gtest.h>

#include <QApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QScrollArea>
#include <QTest>
#include <cstring>

#include "gui/Shots.h"
#include "platform/fake/FakePlatform.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/TestServers.h"
#include "testkit/SessionPair.h"
#include "ui/QtLoop.h"
#include "ui/ScreenView.h"
#include "ui/Widgets.h"
#include "video/VideoKit.h"

// X last: its macros (None, KeyPress, Bool) would break the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include "platform/XTestClient.h"

namespace plimo {
namespace {

bool gDisplay = false;  // the helper's X display answers

// The helped screen, and the view it is fitted to: scale 0.625 with bars of
// 75 points above and below.
constexpr int kW = 1280, kH = 720, kViewW = 800, kViewH = 600, kBar = 75;

// An input-only window over the whole helped screen with the keyboard focus:
// it sees every key and click played there and hides nothing of the picture.
class Recorder {
 public:
  explicit Recorder(const std::string& display) : x_(XOpenDisplay(display.c_str())) {
    if (!x_) return;
    XSetWindowAttributes a{};
    a.event_mask = KeyPressMask | KeyReleaseMask | ButtonPressMask;
    window_ = XCreateWindow(x_, DefaultRootWindow(x_), 0, 0, kW, kH, 0, 0, InputOnly, CopyFromParent, CWEventMask, &a);
    XMapWindow(x_, window_);
    XSync(x_, False);
    XSetInputFocus(x_, window_, RevertToPointerRoot, CurrentTime);
    XSync(x_, False);
  }
  ~Recorder() {
    if (x_) XCloseDisplay(x_);
  }
  bool ok() const { return x_ != nullptr; }
  ::Display* display() const { return x_; }

  // "+A shift" for a press of the key that gives A with Shift held, "-A shift"
  // for its release; "click 640,360".
  std::vector<std::string> events;

  void drain() {
    while (XPending(x_)) {
      XEvent e;
      XNextEvent(x_, &e);
      if (e.type == ButtonPress) {
        events.push_back("click " + std::to_string(e.xbutton.x) + "," + std::to_string(e.xbutton.y));
      } else if (e.type == KeyPress || e.type == KeyRelease) {
        KeySym sym = NoSymbol;
        char text[8];
        XLookupString(&e.xkey, text, sizeof text, &sym, nullptr);
        const char* name = XKeysymToString(sym);
        std::string line = (e.type == KeyPress ? "+" : "-") + std::string(name ? name : "?");
        if (e.xkey.state & ShiftMask) line += " shift";
        if (e.xkey.state & ControlMask) line += " ctrl";
        events.push_back(line);
      }
    }
  }
  QPoint pointer() const {
    Window root, child;
    int px = 0, py = 0, wx, wy;
    unsigned mask;
    XQueryPointer(x_, DefaultRootWindow(x_), &root, &child, &px, &py, &wx, &wy, &mask);
    return {px, py};
  }

 private:
  ::Display* x_ = nullptr;
  Window window_ = 0;
};

struct HelperView : ::testing::Test {
  const std::string helperName = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
  testing::Xvfb helped{kW, kH};  // the helped PC's display; $DISPLAY points there from here on
  ::Display* helper = nullptr;   // plays the helper's hands on the helper's display
  std::unique_ptr<Recorder> recorder;
  QtLoop loop;
  LinuxPlatform helpedPlatform;
  FakePlatform helperPlatform;
  QWidget window;
  QScrollArea* area = new QScrollArea;
  QLineEdit* elsewhere = new QLineEdit;  // somewhere to click outside the picture
  ScreenView* view = new ScreenView(loop, *area);
  std::unique_ptr<testkit::SessionPair> pair;

  void SetUp() override {
    if (!gDisplay) GTEST_SKIP() << "no X display for the helper's windows (scripts/test starts Xvfb)";
    if (!helped.running()) GTEST_SKIP() << "no Xvfb for the helped PC";
    helper = XOpenDisplay(helperName.c_str());
    int ev, er, major, minor;
    ASSERT_TRUE(helper && XTestQueryExtension(helper, &ev, &er, &major, &minor)) << "no XTEST on " << helperName;
    recorder = std::make_unique<Recorder>(helped.name());
    ASSERT_TRUE(recorder->ok());
    testing::fillRect(recorder->display(), 0, 0, kW, kH, 0x3A6EA5);

    auto* layout = new QHBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(area);
    layout->addWidget(elsewhere);
    area->setFixedSize(kViewW, kViewH);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    elsewhere->setFixedWidth(200);
    window.move(0, 0);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    pair = std::make_unique<testkit::SessionPair>(
        loop, helpedPlatform, helperPlatform, view,
        testkit::SessionPair::Options{.link = {.delay = 0.002, .tick = 0.001}, .tilesOnly = true, .helper = {}});
    view->setInput(pair->viewer.get());
    ASSERT_TRUE(until([&] { return bool(pair->answer); }, 10));
    pair->answer(HostSession::Answer::control);
    ASSERT_TRUE(
        until([&] { return pair->viewer->mode().get() == SessionMode::control && view->remoteWidth() == kW; }, 10))
        << "mode " << int(pair->viewer->mode().get());
    EXPECT_EQ(view->destination(), (ViewRect{0, kBar, kViewW, 450}));
  }
  void TearDown() override {
    view->setInput(nullptr);
    pair.reset();
    if (helper) XCloseDisplay(helper);
    setenv("DISPLAY", helperName.c_str(), 1);
  }

  bool until(const std::function<bool()>& done, double seconds = 5) {
    return QTest::qWaitFor(
        [&] {
          recorder->drain();
          return done();
        },
        int(seconds * 1000));
  }
  // Events at the helped PC once they stop coming.
  std::vector<std::string> settled(size_t atLeast) {
    until([&] { return recorder->events.size() >= atLeast; });
    QTest::qWait(150);
    recorder->drain();
    return std::exchange(recorder->events, {});
  }

  void key(KeySym sym, bool down) {
    XTestFakeKeyEvent(helper, XKeysymToKeycode(helper, sym), down, CurrentTime);
    XFlush(helper);
  }
  void click(QWidget* widget, QPoint at) {
    QPoint global = widget->mapToGlobal(at);
    XTestFakeMotionEvent(helper, -1, global.x(), global.y(), CurrentTime);
    XTestFakeButtonEvent(helper, 1, True, CurrentTime);
    XTestFakeButtonEvent(helper, 1, False, CurrentTime);
    XFlush(helper);
  }
  bool focusView() {
    view->setFocus(Qt::OtherFocusReason);
    return until([&] { return view->keyboardGrabbed(); });
  }
  // Another program on the helper's desktop asks for the keyboard.
  int grabFromElsewhere() {
    ::Display* other = XOpenDisplay(helperName.c_str());
    int result = XGrabKeyboard(other, DefaultRootWindow(other), False, GrabModeAsync, GrabModeAsync, CurrentTime);
    XUngrabKeyboard(other, CurrentTime);
    XCloseDisplay(other);
    return result;
  }

  // The helped screen as xwd reads it, as BGRA.
  Picture helpedScreen() {
    const auto shown = testing::xwdRoot(helped.name());
    Picture p(kW, kH);
    if (shown.width != kW || shown.height != kH) return p;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        uint8_t* o = p.row(y) + x * 4;
        const uint32_t rgb = shown.pixels[size_t(y) * kW + size_t(x)];
        o[0] = uint8_t(rgb), o[1] = uint8_t(rgb >> 8), o[2] = uint8_t(rgb >> 16), o[3] = 255;
      }
    return p;
  }
  // The helper's session has `screen`, the pointer's area aside (the capture
  // draws the pointer in); that area is then taken as the helper has it.
  bool helperHas(Picture& screen) const {
    ByteView canvas = pair->viewer->tiles().pixels();
    if (canvas.size() != screen.pixels.size()) return false;
    const QPoint at = recorder->pointer();
    auto pointer = [&](int x, int y) { return std::abs(x - at.x()) < 32 && std::abs(y - at.y()) < 32; };
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x)
        if (!pointer(x, y) && std::memcmp(canvas.data() + (size_t(y) * kW + size_t(x)) * 4, screen.row(y) + x * 4, 3))
          return false;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x)
        if (pointer(x, y)) std::memcpy(screen.row(y) + x * 4, canvas.data() + (size_t(y) * kW + size_t(x)) * 4, 3);
    return true;
  }
  // What the helper's display shows of the view, as xwd reads it.
  Picture onHelperScreen(QRect rect) {
    const auto shown = testing::xwdRoot(helperName);
    QPoint origin = view->mapToGlobal(rect.topLeft());
    Picture p(rect.width(), rect.height());
    const bool inside = origin.x() >= 0 && origin.y() >= 0 && origin.x() + p.width <= shown.width &&
                        origin.y() + p.height <= shown.height;
    EXPECT_TRUE(inside) << "the view at " << origin.x() << "," << origin.y() << " on a screen " << shown.width
                        << " wide";
    if (!inside) return p;
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x) {
        const uint32_t rgb = shown.pixels[size_t(origin.y() + y) * size_t(shown.width) + size_t(origin.x() + x)];
        uint8_t* o = p.row(y) + x * 4;
        o[0] = uint8_t(rgb), o[1] = uint8_t(rgb >> 8), o[2] = uint8_t(rgb >> 16), o[3] = 255;
      }
    return p;
  }
};

Picture pictureOf(const QImage& image) {
  QImage rgb = image.convertToFormat(QImage::Format_RGB32);
  Picture p(rgb.width(), rgb.height());
  for (int y = 0; y < p.height; ++y) std::memcpy(p.row(y), rgb.constScanLine(y), size_t(p.width) * 4);
  return p;
}

void shoot(const Picture& p, const QString& name) { EXPECT_TRUE(ui::image(p).save(testing::shotPath(name))); }

TEST_F(HelperView, KeysTypedInTheViewArriveAtTheHelpedPC) {
  ASSERT_TRUE(focusView());
  struct Case {
    const char* name;
    std::vector<std::pair<KeySym, bool>> typed;
    std::vector<std::string> arrived;
  };
  const std::vector<Case> cases = {
      {"capital letters",
       {{XK_Shift_L, true}, {XK_a, true}, {XK_a, false}, {XK_b, true}, {XK_b, false}, {XK_Shift_L, false}},
       {"+Shift_L", "+A shift", "-A shift", "+B shift", "-B shift", "-Shift_L shift"}},
      {"Ctrl+C", {{XK_Control_L, true}, {XK_c, true}, {XK_c, false}, {XK_Control_L, false}},
       {"+Control_L", "+c ctrl", "-c ctrl", "-Control_L ctrl"}},
      {"F5", {{XK_F5, true}, {XK_F5, false}}, {"+F5", "-F5"}},
      {"arrows",
       {{XK_Left, true}, {XK_Left, false}, {XK_Up, true}, {XK_Up, false}, {XK_Right, true}, {XK_Right, false},
        {XK_Down, true}, {XK_Down, false}},
       {"+Left", "-Left", "+Up", "-Up", "+Right", "-Right", "+Down", "-Down"}},
      {"Shift with a digit and Tab",
       {{XK_Shift_L, true}, {XK_1, true}, {XK_1, false}, {XK_Tab, true}, {XK_Tab, false}, {XK_Shift_L, false}},
       {"+Shift_L", "+exclam shift", "-exclam shift", "+ISO_Left_Tab shift", "-ISO_Left_Tab shift",
        "-Shift_L shift"}},
      {"Shift let go before the letter",
       {{XK_Shift_L, true}, {XK_a, true}, {XK_Shift_L, false}, {XK_a, false}},
       {"+Shift_L", "+A shift", "-Shift_L shift", "-a"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (auto [sym, down] : c.typed) key(sym, down);
    EXPECT_EQ(settled(c.arrived.size()), c.arrived);
  }
}

TEST_F(HelperView, ClicksAtFitScaleLandOnTheMappedPixel) {
  struct Case {
    QPoint at;  // in the view
    const char* arrived;
  };
  const std::vector<Case> cases = {
      {{0, kBar}, "click 0,0"},
      {{400, 300}, "click 640,360"},
      {{123, 77}, "click 196,3"},  // 123 × 1.6 = 196.8, 2 × 1.6 = 3.2
      {{799, kBar + 449}, "click 1278,718"},
      {{400, 10}, "click 640,0"},          // the bar above: the top row
      {{250, kViewH - 1}, "click 400,719"},  // the bar below: the bottom row
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arrived);
    click(view, c.at);
    EXPECT_EQ(settled(1), std::vector<std::string>{c.arrived});
  }
}

TEST_F(HelperView, TheKeyboardIsGrabbedWhileFocusedAndNothingStaysHeldAfter) {
  EXPECT_EQ(grabFromElsewhere(), GrabSuccess);
  ASSERT_TRUE(focusView());
  EXPECT_EQ(grabFromElsewhere(), AlreadyGrabbed);
  key(XK_Shift_L, true);
  EXPECT_EQ(settled(1), std::vector<std::string>{"+Shift_L"});

  // A click outside the picture takes the keyboard back, and the helped PC
  // sees Shift let go although it is still held here.
  click(elsewhere, {20, 10});
  ASSERT_TRUE(until([&] { return elsewhere->hasFocus() && !view->keyboardGrabbed(); }));
  EXPECT_EQ(settled(1), std::vector<std::string>{"-Shift_L shift"});
  EXPECT_EQ(grabFromElsewhere(), GrabSuccess);
  key(XK_Shift_L, false);
  key(XK_a, true);
  key(XK_a, false);
  EXPECT_EQ(settled(0), std::vector<std::string>{});
  EXPECT_EQ(elsewhere->text(), "a");

  ASSERT_TRUE(focusView());
  EXPECT_EQ(grabFromElsewhere(), AlreadyGrabbed);
}

TEST_F(HelperView, ShowsTheHelpedScreenAtFitAndOriginalSize) {
  // Fit: windows of flat colour, since a reduced picture of noise tells
  // nothing of where its pixels went.
  ::Display* x = recorder->display();
  for (int i = 0; i < 6; ++i)
    testing::fillRect(x, 60 + 170 * i, 40 + 90 * i, 420, 260, (0x204080u * unsigned(i + 1) ^ 0xF0F0F0) & 0xFFFFFF);
  testing::fillRect(x, 0, kH - 40, kW, 40, 0x202020);
  Picture screen = helpedScreen();
  ASSERT_TRUE(until([&] { return helperHas(screen); }, 20));
  QTest::qWait(200);  // painted and put on the screen
  Picture fitted = onHelperScreen(QRect(0, 0, kViewW, kViewH));
  shoot(fitted, "helper-view-fit");
  for (int y : {0, kBar - 1, kBar + 450, kViewH - 1})
    for (int column : {0, 400, kViewW - 1})
      EXPECT_EQ(std::memcmp(fitted.row(y) + column * 4, "\0\0\0", 3), 0) << column << "," << y;
  Picture expected = pictureOf(ui::image(screen).scaled(kViewW, 450, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
  Picture shown(kViewW, 450);
  for (int y = 0; y < 450; ++y) std::memcpy(shown.row(y), fitted.row(kBar + y), size_t(shown.stride));
  EXPECT_GE(videokit::psnr(expected, shown), 28.0);

  // Original size: every pixel as it is on the helped screen.
  testing::paintNoise(x, 23);
  view->setScale(ViewScale::original);
  screen = helpedScreen();
  ASSERT_TRUE(until([&] { return helperHas(screen); }, 20));
  QTest::qWait(200);
  EXPECT_EQ(view->size(), QSize(kW, kH));
  Picture original = pictureOf(view->grab().toImage());
  shoot(original, "helper-view-original");
  ASSERT_EQ(original.width, kW);
  EXPECT_EQ(videokit::psnr(screen, original), 99.0);
  Picture visible = onHelperScreen(QRect(0, 0, kViewW, kViewH));
  size_t differ = 0;
  for (int y = 0; y < kViewH; ++y) differ += std::memcmp(visible.row(y), screen.row(y), size_t(visible.stride)) != 0;
  EXPECT_EQ(differ, 0u) << "rows of the visible part unlike the helped screen";
}

}  // namespace
}  // namespace plimo

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Qt's xcb platform ends the program when it finds no display: look first.
  if (::Display* x = XOpenDisplay(nullptr)) {
    XCloseDisplay(x);
    plimo::gDisplay = true;
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
  }
  return RUN_ALL_TESTS();
}
