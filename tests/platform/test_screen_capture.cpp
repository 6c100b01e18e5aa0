// gtest before X11: X.h defines None, Bool and Status as macros.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "TestServers.h"
#include "XTestClient.h"
#include "platform/linux/ScreenCapturer.h"

using namespace plimo;
using namespace plimo::testing;
using namespace std::chrono_literals;

namespace {

#define NEED_XVFB(server)                                                         \
  if (!(server).running()) GTEST_SKIP() << "Xvfb is not installed or did not start"

// Takes the picture from the slot once `changed` is set (as the session does).
PictureRef take(ScreenSource& source, std::chrono::milliseconds within = 3000ms) {
  auto until = std::chrono::steady_clock::now() + within;
  while (std::chrono::steady_clock::now() < until) {
    if (PictureRef picture = source.slot.take(false)) return picture;
    std::this_thread::sleep_for(2ms);
  }
  return nullptr;
}

struct Box {
  int left, top, right, bottom;  // right and bottom exclusive
  bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

Box pointerBox(::Display* x) {
  XFixesCursorImage* c = XFixesGetCursorImage(x);
  Box box{c->x - c->xhot, c->y - c->yhot, c->x - c->xhot + c->width, c->y - c->yhot + c->height};
  XFree(c);
  return box;
}

// Compares a captured picture with the root image at an offset; counts the
// differing pixels inside and outside `pointer`.
struct Difference {
  long outside = 0;
  long inside = 0;
  long alphaNot255 = 0;
};

Difference compare(const plimo::Picture& picture, const RootImage& root, int left, int top, Box pointer) {
  Difference d;
  for (int y = 0; y < picture.height; ++y) {
    const uint8_t* row = picture.row(y);
    for (int x = 0; x < picture.width; ++x) {
      const uint8_t* p = row + x * 4;
      uint32_t rgb = uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
      if (p[3] != 255) ++d.alphaNot255;
      if (rgb == root.pixels[size_t(top + y) * size_t(root.width) + size_t(left + x)]) continue;
      if (pointer.contains(left + x, top + y)) {
        ++d.inside;
      } else {
        ++d.outside;
      }
    }
  }
  return d;
}

}  // namespace

TEST(ScreenCapture, PictureMatchesXwdOutsideThePointerWhichIsDrawnIn) {
  Xvfb server(1920, 1080);
  NEED_XVFB(server);
  ::Display* x = XOpenDisplay(nullptr);
  ASSERT_TRUE(x);
  paintNoise(x, 1);
  XWarpPointer(x, None, DefaultRootWindow(x), 0, 0, 0, 0, 700, 500);
  XSync(x, False);

  ScreenCapturer capturer;
  auto screens = capturer.displays();
  ASSERT_EQ(screens.size(), 1u);
  EXPECT_EQ(screens[0].bounds, (Rect{0, 0, 1920, 1080}));
  EXPECT_TRUE(screens[0].primary);
  ASSERT_NO_THROW(capturer.start(screens[0], {}));
  PictureRef picture = take(capturer);
  ASSERT_TRUE(picture);
  ASSERT_EQ(picture->width, 1920);
  ASSERT_EQ(picture->height, 1080);

  RootImage root = xwdRoot(server.name());
  ASSERT_EQ(root.width, 1920) << "xwd could not read the screen";
  Box pointerAt = pointerBox(x);
  EXPECT_TRUE(pointerAt.contains(700, 500));
  Difference d = compare(*picture, root, 0, 0, pointerAt);
  EXPECT_EQ(d.outside, 0);
  EXPECT_GT(d.inside, 0) << "the pointer is not drawn in";
  EXPECT_EQ(d.alphaNot255, 0);
  capturer.stop();
  XCloseDisplay(x);
}

// Only the damaged rows are read, and a picture taken again from the pool is
// brought up to date only where the screen or the pointer changed since it
// was made: every picture must still be the whole screen.
TEST(ScreenCapture, EveryPictureIsTheWholeScreenWhileRowsChangeAndThePointerMoves) {
  Xvfb server(640, 480);
  NEED_XVFB(server);
  ::Display* x = XOpenDisplay(nullptr);
  ASSERT_TRUE(x);
  paintNoise(x, 2);
  ScreenCapturer capturer;
  auto screens = capturer.displays();
  ASSERT_FALSE(screens.empty());
  ASSERT_NO_THROW(capturer.start(screens[0], {}));
  ASSERT_TRUE(take(capturer));
  struct Step {
    const char* name;
    int left, top, width, height;  // a rectangle drawn, or none
    int pointerX, pointerY;        // where the pointer goes, or -1
  };
  const Step steps[] = {
      {"top rows", 0, 0, 640, 3, -1, -1},       {"pointer", 0, 0, 0, 0, 300, 200},
      {"bottom rows", 10, 470, 50, 10, -1, -1}, {"pointer again", 0, 0, 0, 0, 20, 460},
      {"middle", 200, 100, 10, 200, -1, -1},     {"pointer over the change", 0, 0, 0, 0, 205, 150},
      {"one pixel", 639, 479, 1, 1, -1, -1},    {"all", 0, 0, 640, 480, 600, 50},
  };
  PictureRef held;  // one picture kept, so that the pool holds several
  uint32_t colour = 0x102030;
  for (const Step& step : steps) {
    if (step.width > 0) fillRect(x, step.left, step.top, step.width, step.height, colour += 0x0A0B0C);
    if (step.pointerX >= 0) XWarpPointer(x, None, DefaultRootWindow(x), 0, 0, 0, 0, step.pointerX, step.pointerY);
    XSync(x, False);
    std::this_thread::sleep_for(40ms);  // the capture's 60 Hz look at the pointer
    PictureRef picture = take(capturer);
    ASSERT_TRUE(picture) << step.name;
    if (!held) held = picture;
    RootImage root = xwdRoot(server.name());
    ASSERT_EQ(root.width, 640) << "xwd could not read the screen";
    EXPECT_EQ(compare(*picture, root, 0, 0, pointerBox(x)).outside, 0) << step.name;
  }
  capturer.stop();
  XCloseDisplay(x);
}

TEST(ScreenCapture, OddScreenGivesEvenPictures) {
  Xvfb server(1471, 919);
  NEED_XVFB(server);
  ScreenCapturer capturer;
  auto screens = capturer.displays();
  ASSERT_EQ(screens.size(), 1u);
  EXPECT_EQ(screens[0].bounds, (Rect{0, 0, 1471, 919}));
  ASSERT_NO_THROW(capturer.start(screens[0], {}));
  EXPECT_EQ(capturer.slot.size(), (Size{1470, 918}));
  PictureRef picture = take(capturer);
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->width, 1470);
  EXPECT_EQ(picture->height, 918);
}

TEST(ScreenCapture, TwoMonitorsAreListedWithBoundsAndPrimaryAndEachCanBeCaptured) {
  Xvfb server(1920, 1080);
  NEED_XVFB(server);
  ::Display* x = XOpenDisplay(nullptr);
  ASSERT_TRUE(x);
  Window root = DefaultRootWindow(x);
  XRRScreenResources* resources = XRRGetScreenResources(x, root);
  ASSERT_TRUE(resources && resources->noutput > 0);
  XRRMonitorInfo left{};
  left.name = XInternAtom(x, "LEFT", False);
  left.x = 0, left.y = 0, left.width = 1200, left.height = 1080, left.mwidth = 300, left.mheight = 270;
  left.noutput = 1;
  left.outputs = &resources->outputs[0];
  XRRSetMonitor(x, root, &left);
  XRRMonitorInfo right{};
  right.name = XInternAtom(x, "RIGHT", False);
  right.primary = True;
  right.x = 1200, right.y = 100, right.width = 720, right.height = 900, right.mwidth = 180, right.mheight = 225;
  XRRSetMonitor(x, root, &right);
  XRRFreeScreenResources(resources);
  paintNoise(x, 2);
  XWarpPointer(x, None, root, 0, 0, 0, 0, 100, 100);  // on the left monitor
  XSync(x, False);

  ScreenCapturer capturer;
  auto screens = capturer.displays();
  ASSERT_EQ(screens.size(), 2u);
  const plimo::Display* shownLeft = nullptr;
  const plimo::Display* shownRight = nullptr;
  for (const auto& s : screens) {
    if (s.id == uint32_t(left.name)) shownLeft = &s;
    if (s.id == uint32_t(right.name)) shownRight = &s;
  }
  ASSERT_TRUE(shownLeft && shownRight);
  EXPECT_EQ(shownLeft->bounds, (Rect{0, 0, 1200, 1080}));
  EXPECT_FALSE(shownLeft->primary);
  EXPECT_EQ(shownRight->bounds, (Rect{1200, 100, 720, 900}));
  EXPECT_TRUE(shownRight->primary);

  ASSERT_NO_THROW(capturer.start(*shownRight, {}));
  PictureRef picture = take(capturer);
  ASSERT_TRUE(picture);
  ASSERT_EQ(picture->width, 720);
  ASSERT_EQ(picture->height, 900);
  RootImage whole = xwdRoot(server.name());
  ASSERT_EQ(whole.width, 1920);
  Difference d = compare(*picture, whole, 1200, 100, pointerBox(x));
  EXPECT_EQ(d.outside + d.inside, 0);  // the pointer is on the other monitor

  // A screen that is gone falls back to the first one.
  ASSERT_NO_THROW(capturer.start({12345, {}, false}, {}));
  EXPECT_EQ(capturer.display()->id, screens[0].id);
  XCloseDisplay(x);
}

TEST(ScreenCapture, IdleScreenSetsChangedOnceThenDrawingAndPointerSetItAgain) {
  Xvfb server(1280, 720);
  NEED_XVFB(server);
  ::Display* x = XOpenDisplay(nullptr);
  ASSERT_TRUE(x);
  ScreenCapturer capturer;
  auto screens = capturer.displays();
  ASSERT_FALSE(screens.empty());
  ASSERT_NO_THROW(capturer.start(screens[0], {}));

  int changes = 0;
  PictureRef first;
  auto until = std::chrono::steady_clock::now() + 700ms;
  while (std::chrono::steady_clock::now() < until) {
    if (PictureRef picture = capturer.slot.take(false)) {
      ++changes;
      first = picture;
    }
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_EQ(changes, 1);

  fillRect(x, 10, 20, 30, 40, 0x123456);
  PictureRef drawn = take(capturer);
  ASSERT_TRUE(drawn);
  const uint8_t* p = drawn->row(25) + 15 * 4;
  EXPECT_EQ(p[0], 0x56);
  EXPECT_EQ(p[1], 0x34);
  EXPECT_EQ(p[2], 0x12);

  XWarpPointer(x, None, DefaultRootWindow(x), 0, 0, 0, 0, 600, 400);
  XSync(x, False);
  PictureRef moved = take(capturer);
  ASSERT_TRUE(moved);
  EXPECT_NE(std::memcmp(moved->pixels.data(), drawn->pixels.data(), drawn->pixels.size()), 0);
  XCloseDisplay(x);
}

TEST(ScreenCapture, LosingTheXServerStopsTheCaptureWithAReason) {
  Xvfb server(640, 480);
  NEED_XVFB(server);
  ScreenCapturer capturer;
  std::atomic<int> stops{0};
  std::string reason;
  std::mutex reasonLock;
  capturer.onStopped = [&](std::string why) {
    std::lock_guard guard(reasonLock);
    reason = why;
    ++stops;
  };
  auto screens = capturer.displays();
  ASSERT_FALSE(screens.empty());
  ASSERT_NO_THROW(capturer.start(screens[0], {}));
  ASSERT_TRUE(take(capturer));
  server.kill();
  auto until = std::chrono::steady_clock::now() + 3s;
  while (stops == 0 && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(stops, 1);
  {
    std::lock_guard guard(reasonLock);
    EXPECT_EQ(reason, "the X display closed the connection");
  }
  capturer.stop();
  EXPECT_TRUE(capturer.slot.latest());  // the last picture is kept
}

// The rate cap (60 a second) is measured in bench_platform; here the counts:
// a picture only for something that changed, and the moves do show.
TEST(ScreenCapture, AMovingPointerGivesPicturesButNeverMoreThanItsMoves) {
  Xvfb server(640, 480);
  NEED_XVFB(server);
  ScreenCapturer capturer;
  auto screens = capturer.displays();
  ASSERT_FALSE(screens.empty());
  ASSERT_NO_THROW(capturer.start(screens[0], {}));
  ASSERT_TRUE(take(capturer));

  constexpr int kMoves = 400;
  std::atomic<bool> moving{true};
  std::thread mover([&] {
    ::Display* x = XOpenDisplay(nullptr);
    for (int i = 0; i < kMoves; ++i) {
      XWarpPointer(x, None, DefaultRootWindow(x), 0, 0, 0, 0, 100 + i % 400, 100);
      XSync(x, False);
      std::this_thread::sleep_for(500us);
    }
    XCloseDisplay(x);
    moving = false;
  });
  int pictures = 0;
  auto count = [&] {
    if (capturer.slot.take(false)) ++pictures;
  };
  while (moving) {
    count();
    std::this_thread::sleep_for(500us);
  }
  mover.join();
  count();
  RecordProperty("pictures", pictures);
  EXPECT_GE(pictures, 2) << "the pointer's moves were not captured";
  EXPECT_LE(pictures, kMoves);
}
