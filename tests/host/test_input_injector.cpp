#include <gtest/gtest.h>

#include <tuple>

#include "HostRig.h"
#include "host/InputInjector.h"
#include "platform/fake/RecordingInputSink.h"
#include "protocol/wire/InputEvent.h"

using namespace plimo;
using Events = std::vector<std::string>;

namespace {

struct Injector : ::testing::Test {
  RecordingInputSink sink;
  InputInjector injector{sink};
};

}  // namespace

TEST_F(Injector, PicturePixelsMapOntoTheCapturedScreen) {
  EXPECT_EQ(injector.point(7, 9), (InputInjector::Point{7, 9}));  // scale 1 before any capture
  injector.setScreen({1920, 0, 1471, 919});
  injector.setPictureSize({1470, 918});
  EXPECT_EQ(injector.point(0, 0), (InputInjector::Point{1920, 0}));
  EXPECT_EQ(injector.point(1469, 917), (InputInjector::Point{1920 + 1469, 917}));
  injector.setScreen({0, 100, 3840, 2160});
  injector.setPictureSize({1920, 1080});
  EXPECT_EQ(injector.point(10, 10), (InputInjector::Point{20, 120}));
}

TEST_F(Injector, PositionsPastThePictureCannotReachAnotherScreen) {
  injector.setScreen({1920, 0, 1280, 1024});
  injector.setPictureSize({1280, 1024});
  EXPECT_EQ(injector.point(-32768, -5), (InputInjector::Point{1920, 0}));
  EXPECT_EQ(injector.point(32767, 1024), (InputInjector::Point{1920 + 1279, 1023}));
}

TEST_F(Injector, ButtonsMoveFirstAndDragsFollowThePointer) {
  injector.apply(InputEvent::buttonDown, 10, 20, 0);
  injector.apply(InputEvent::move, 30, 40, 0);
  injector.apply(InputEvent::buttonUp, 31, 41, 0);
  injector.apply(InputEvent::buttonDown, 5, 5, 1);
  injector.apply(InputEvent::buttonUp, 5, 5, 1);
  injector.apply(InputEvent::buttonDown, 5, 5, 2);
  injector.apply(InputEvent::buttonUp, 5, 5, 7);  // unknown numbers press nothing
  injector.apply(InputEvent::buttonDown, 5, 5, -1);
  EXPECT_EQ(sink.events, (Events{"move 10,20", "button 1 down", "move 30,40", "move 31,41", "button 1 up",
                                 "move 5,5", "button 3 down", "move 5,5", "button 3 up", "move 5,5",
                                 "button 2 down"}));
  EXPECT_EQ(injector.buttonsDown(), (std::set<int32_t>{2}));
}

// A notch of the helper's wheel is one click of the helped PC's.
TEST_F(Injector, WheelClicksAreAmountOver120WithTheRestKept) {
  injector.apply(InputEvent::wheel, 1, 2, 240);
  EXPECT_EQ(sink.events, (Events{"move 1,2", "button 4 down", "button 4 up", "button 4 down", "button 4 up"}));
  sink.events.clear();
  injector.apply(InputEvent::wheel, 1, 2, 180);  // 1.5: one click, half kept
  injector.apply(InputEvent::wheel, 1, 2, 180);  // 1.5 + 0.5: two clicks
  EXPECT_EQ(std::count(sink.events.begin(), sink.events.end(), "button 4 down"), 3);
  EXPECT_DOUBLE_EQ(injector.wheelRest(), 0);
  sink.events.clear();
  for (int i = 0; i < 2; ++i) injector.apply(InputEvent::wheel, 0, 0, 40);  // a trackpad's small amounts
  EXPECT_TRUE(sink.events.empty());
  injector.apply(InputEvent::wheel, 0, 0, 40);
  EXPECT_EQ(sink.events, (Events{"move 0,0", "button 4 down", "button 4 up"}));
  sink.events.clear();
  injector.apply(InputEvent::wheel, 0, 0, -180);
  EXPECT_EQ(sink.events, (Events{"move 0,0", "button 5 down", "button 5 up"}));
  EXPECT_DOUBLE_EQ(injector.wheelRest(), -0.5);
}

TEST_F(Injector, AHugeWheelAmountIsBounded) {
  injector.apply(InputEvent::wheel, 0, 0, INT32_MAX);
  EXPECT_EQ(std::count(sink.events.begin(), sink.events.end(), "button 4 down"), 100);
}

TEST_F(Injector, KeysModifiersAndCtrlStaysCtrlWhateverTheSetting) {
  for (bool ctrlAsCommand : {false, true}) {
    sink.events.clear();
    InputInjector player(sink, ctrlAsCommand);
    player.apply(InputEvent::keyDown, 0, 0, 0x11);
    player.apply(InputEvent::keyDown, 0, 0, 0x43);
    player.apply(InputEvent::keyUp, 0, 0, 0x43);
    player.apply(InputEvent::keyUp, 0, 0, 0x11);
    EXPECT_EQ(sink.events, (Events{"key 0xffe3 down", "key 0x63 down", "key 0x63 up", "key 0xffe3 up"}));
  }
  sink.events.clear();
  injector.apply(InputEvent::keyDown, 0, 0, 0xA1);          // right Shift plays as left
  injector.apply(InputEvent::keyDown, 0, 0, 0x5C);          // right Windows key: Super
  injector.apply(InputEvent::keyDown, 0, 0, 0x1230000 | 0x0D);  // high bits ignored; Return
  injector.apply(InputEvent::keyDown, 0, 0, 0x07);          // no such key
  injector.apply(9, 0, 0, 0x41);                                // no such kind
  EXPECT_EQ(sink.events, (Events{"key 0xffe1 down", "key 0xffeb down", "key 0xff0d down"}));
}

// Ordinary keys once stayed down on the helped PC after the helper paused,
// left or was dropped: a held letter repeated into whatever had the focus.
// Everything the injector pressed is let go, buttons first, then keys, then
// modifiers, once; unknown codes pressed nothing and release nothing.
TEST(InputInjectorRelease, KeysTheHelperLeftDownAreReleasedWhenTheHelperLeaves) {
  // Left button, Shift, A, Return, F5 and Alt held; Alt let go again.
  const std::vector<std::tuple<uint8_t, int32_t>> held = {
      {InputEvent::buttonDown, 0}, {InputEvent::keyDown, 0x10}, {InputEvent::keyDown, 0x41},
      {InputEvent::keyDown, 0x0D}, {InputEvent::keyDown, 0x74}, {InputEvent::keyDown, 0x12},
      {InputEvent::keyDown, 0x07}, {InputEvent::keyUp, 0x12}};
  const Events released = {"button 1 up", "key 0x61 up", "key 0xff0d up", "key 0xffc2 up", "key 0xffe1 up"};
  auto helperPresses = [&](auto& sendEvent) {
    for (auto [kind, data] : held) sendEvent(kind, data);
  };
  for (const char* way : {"pause", "end", "destruction"}) {
    SCOPED_TRACE(way);
    if (std::string(way) == "destruction") {
      RecordingInputSink sink;
      {
        InputInjector injector(sink);
        auto apply = [&](uint8_t kind, int32_t data) { injector.apply(kind, 3, 4, data); };
        helperPresses(apply);
        sink.events.clear();
      }
      EXPECT_EQ(sink.events, released);
      continue;
    }
    testkit::HostRig rig;
    rig.make();
    rig.allow();
    auto send = [&](uint8_t kind, int32_t data) {
      rig.input.add(kind, 3, 4, data);
      rig.raw(*rig.input.packet());
    };
    helperPresses(send);
    auto& sink = *rig.platform.input;
    ASSERT_EQ(sink.events.size(), 8u);  // the button and the move to it, six keys
    sink.events.clear();
    if (std::string(way) == "pause") {
      rig.session->setPaused(true);
      rig.session->setPaused(false);
      rig.session->setPaused(true);
    } else {
      rig.session->close();
    }
    EXPECT_EQ(sink.events, released);
  }
}
