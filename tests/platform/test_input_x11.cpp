// gtest before X11: X.h defines None, Bool and Status as macros.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <X11/XF86keysym.h>

#include <algorithm>
#include <functional>

#include "TestServers.h"
#include "XTestClient.h"
#include "host/InputInjector.h"
#include "platform/linux/XTestInputSink.h"
#include "protocol/wire/InputEvent.h"
#include "protocol/wire/KeyMap.h"

using namespace plimo;
using namespace plimo::testing;

namespace {

// A full-screen window of a client of its own, with the keyboard focus,
// reading what arrives as a real application would.
struct Client {
  ::Display* x = nullptr;
  Window window = 0;

  Client() {
    x = XOpenDisplay(nullptr);
    if (!x) return;
    int screen = DefaultScreen(x);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.event_mask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                            PointerMotionMask | StructureNotifyMask;
    window = XCreateWindow(x, DefaultRootWindow(x), 0, 0, unsigned(DisplayWidth(x, screen)),
                           unsigned(DisplayHeight(x, screen)), 0, CopyFromParent, InputOutput, CopyFromParent,
                           CWOverrideRedirect | CWEventMask, &attributes);
    XMapRaised(x, window);
    XEvent event;
    while (nextEvent(x, event) && event.type != MapNotify) {
    }
    XSetInputFocus(x, window, RevertToParent, CurrentTime);
    XSync(x, False);
  }
  ~Client() {
    if (x) XCloseDisplay(x);
  }

  // Reads events until `done` says so (or two seconds pass); keyboard
  // mapping changes are taken in on the way, as toolkits do.
  std::vector<XEvent> until(const std::function<bool(const XEvent&)>& done) {
    std::vector<XEvent> events;
    XEvent event;
    while (nextEvent(x, event)) {
      if (event.type == MappingNotify) {
        XRefreshKeyboardMapping(&event.xmapping);
        continue;
      }
      events.push_back(event);
      if (done(event)) break;
    }
    return events;
  }

  std::string text(XKeyEvent& key) {
    char buffer[16];
    KeySym sym;
    int n = XLookupString(&key, buffer, sizeof buffer, &sym, nullptr);
    return std::string(buffer, size_t(std::max(n, 0)));
  }
};

struct InputX11 : ::testing::Test {
  Xvfb server{1280, 800};
  std::unique_ptr<Client> client;
  std::unique_ptr<XTestInputSink> sink;
  std::unique_ptr<InputInjector> injector;

  void SetUp() override {
    if (!server.running()) GTEST_SKIP() << "Xvfb is not installed or did not start";
    client = std::make_unique<Client>();
    ASSERT_TRUE(client->x);
    ASSERT_NO_THROW(sink = XTestInputSink::open());
    injector = std::make_unique<InputInjector>(*sink);
    injector->setScreen({0, 0, 1280, 800});
    injector->setPictureSize({1280, 800});
  }

  // Types one code down and up; returns what the client's key press reads.
  std::pair<std::string, KeySym> type(int32_t vk) {
    injector->apply(InputEvent::keyDown, 0, 0, vk);
    injector->apply(InputEvent::keyUp, 0, 0, vk);
    // Modifier presses and releases of earlier calls may come first.
    XEvent press{};
    client->until([&](const XEvent& e) {
      if (e.type == KeyPress) press = e;
      return e.type == KeyRelease && press.type == KeyPress && e.xkey.keycode == press.xkey.keycode;
    });
    if (press.type == KeyPress) return {client->text(press.xkey), XLookupKeysym(&press.xkey, 0)};
    return {"", NoSymbol};
  }
};

}  // namespace

TEST_F(InputX11, MovesClicksAndDragsArriveWhereTheyWereAimed) {
  injector->apply(InputEvent::move, 100, 200, 0);
  auto events = client->until([](const XEvent& e) { return e.type == MotionNotify && e.xmotion.x_root == 100; });
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().xmotion.y_root, 200);

  for (auto [wire, x11] : {std::pair{0, 1}, std::pair{1, 3}, std::pair{2, 2}}) {
    injector->apply(InputEvent::buttonDown, 50, 60, wire);
    injector->apply(InputEvent::buttonUp, 50, 60, wire);
    events = client->until([](const XEvent& e) { return e.type == ButtonRelease; });
    auto press = std::find_if(events.begin(), events.end(), [](const XEvent& e) { return e.type == ButtonPress; });
    ASSERT_NE(press, events.end());
    EXPECT_EQ(press->xbutton.button, unsigned(x11));
    EXPECT_EQ(press->xbutton.x_root, 50);
    EXPECT_EQ(press->xbutton.y_root, 60);
    EXPECT_EQ(events.back().xbutton.button, unsigned(x11));
  }

  injector->apply(InputEvent::buttonDown, 10, 10, 0);
  injector->apply(InputEvent::move, 300, 310, 0);
  injector->apply(InputEvent::buttonUp, 300, 310, 0);
  events = client->until([](const XEvent& e) { return e.type == ButtonRelease; });
  bool dragged = false;
  for (auto& e : events) {
    if (e.type == MotionNotify && e.xmotion.x_root == 300 && e.xmotion.y_root == 310)
      dragged = (e.xmotion.state & Button1Mask) != 0;
  }
  EXPECT_TRUE(dragged);
  EXPECT_EQ(events.back().xbutton.x_root, 300);
  EXPECT_EQ(events.back().xbutton.y_root, 310);
}

TEST_F(InputX11, WheelOf360AndOf180Plus180GiveThreeClicksEach) {
  for (auto amounts : {std::vector<int>{360}, std::vector<int>{180, 180}, std::vector<int>{-360}}) {
    for (int amount : amounts) injector->apply(InputEvent::wheel, 400, 300, amount);
    unsigned want = amounts[0] > 0 ? 4 : 5;
    int steps = 0;
    client->until([&](const XEvent& e) {
      if (e.type == ButtonPress) {
        EXPECT_EQ(e.xbutton.button, want);
        ++steps;
      }
      return e.type == ButtonRelease && steps == 3;
    });
    EXPECT_EQ(steps, 3);
  }
}

TEST_F(InputX11, KeysArriveAsTheRightKeysymsAndTexts) {
  EXPECT_EQ(type(0x41).first, "a");
  injector->apply(InputEvent::keyDown, 0, 0, 0xA0);  // Shift
  EXPECT_EQ(type(0x41).first, "A");
  EXPECT_EQ(type(0x31).first, "!");
  injector->apply(InputEvent::keyUp, 0, 0, 0xA0);
  EXPECT_EQ(type(0x31).first, "1");
  EXPECT_EQ(type(0x65).first, "5");  // keypad 5, whatever Num Lock says
  EXPECT_EQ(type(0x6B).first, "+");  // keypad plus
  EXPECT_EQ(type(0x74).second, KeySym(XK_F5));
  EXPECT_EQ(type(0x82).second, KeySym(XK_F19));  // no key for it on this layout
  EXPECT_EQ(type(0x0D).second, KeySym(XK_Return));
  EXPECT_EQ(type(0x2E).second, KeySym(XK_Delete));
  EXPECT_EQ(type(0x25).second, KeySym(XK_Left));
  EXPECT_EQ(type(0xAD).second, KeySym(XF86XK_AudioMute));
}

TEST_F(InputX11, EveryKeyOfTheTableCanBePlayed) {
  for (const auto& entry : KeyMap::table()) {
    if (InputInjector::modifier(entry.vk) || entry.keysym == XK_Caps_Lock || entry.keysym == XK_Num_Lock) continue;
    EXPECT_EQ(type(entry.vk).second, KeySym(*KeyMap::keysym(entry.vk))) << std::hex << entry.vk;
  }
}

TEST_F(InputX11, ReleaseAllLetsGoOfAHeldModifierAndButton) {
  injector->apply(InputEvent::keyDown, 0, 0, 0x11);  // Ctrl
  injector->apply(InputEvent::buttonDown, 20, 30, 0);
  client->until([](const XEvent& e) { return e.type == ButtonPress; });
  injector->releaseAll();
  auto events = client->until([](const XEvent& e) { return e.type == KeyRelease; });
  bool buttonUp = false;
  for (auto& e : events) buttonUp = buttonUp || (e.type == ButtonRelease && e.xbutton.button == 1);
  EXPECT_TRUE(buttonUp);
  ASSERT_EQ(events.back().type, KeyRelease);
  EXPECT_EQ(XLookupKeysym(&events.back().xkey, 0), KeySym(XK_Control_L));
  injector->apply(InputEvent::keyDown, 0, 0, 0x43);
  events = client->until([](const XEvent& e) { return e.type == KeyPress; });
  EXPECT_EQ(events.back().xkey.state & (ControlMask | Button1Mask), 0u);
  injector->apply(InputEvent::keyUp, 0, 0, 0x43);
}
