// The picture rate's decisions, window by window.
#include <gtest/gtest.h>

#include "host/FrameRate.h"

using namespace plimo;

namespace {

struct Window {
  int wanted, blocked, captures;
  double encodeMs;       // mean per picture
  bool rate60After;      // the rate once the window closed
  const char* log;       // the switch's line, "" for none
};

// Runs windows of 2 s starting at `start` (consent at `start`), and checks
// each outcome.
void run(FrameRate& rate, double& now, const std::vector<Window>& windows, const char* name) {
  for (size_t i = 0; i < windows.size(); ++i) {
    const Window& w = windows[i];
    for (int k = 0; k < w.wanted; ++k) rate.due(k < w.blocked);
    for (int k = 0; k < w.captures; ++k) rate.produced(w.encodeMs / 1000);
    now += 2.0;
    auto line = rate.check(now);
    EXPECT_EQ(line.value_or(""), w.log) << name << ", window " << i;
    EXPECT_EQ(rate.rate60(), w.rate60After) << name << ", window " << i;
  }
}

}  // namespace

TEST(FrameRate, WindowsDecideAsTheTableSays) {
  const Window good{120, 0, 120, 5, true, ""};
  const Window blocked30{100, 30, 70, 5, false, "frame rate now 30 a second (30% of due frames found no room, encode 5.0 ms)"};
  const Window slow{120, 0, 120, 14, true, ""};
  struct Case {
    const char* name;
    std::vector<Window> windows;
  } cases[] = {
      {"one bad window does not switch", {{100, 30, 70, 5, true, ""}, good, {100, 30, 70, 5, true, ""}}},
      {"two bad windows switch to 30", {{100, 30, 70, 5, true, ""}, blocked30}},
      {"slow encoding counts as bad",
       {slow, {120, 0, 120, 14, false, "frame rate now 30 a second (0% of due frames found no room, encode 14.0 ms)"}}},
      {"still screens decide nothing", {{120, 100, 19, 50, true, ""}, {120, 100, 19, 50, true, ""}, {120, 100, 0, 0, true, ""}}},
  };
  for (auto& c : cases) {
    FrameRate rate;
    double now = 1000;
    rate.begin(now);
    EXPECT_FALSE(rate.check(now));  // opens the first window
    run(rate, now, c.windows, c.name);
  }
}

TEST(FrameRate, TheWaitBeforeSixtyGrowsSixTwelveTwentyFourThirtyAndResetsAfterThirtySecondsAtSixty) {
  FrameRate rate;
  double now = 1000;
  rate.begin(now);
  rate.check(now);
  const Window bad{100, 30, 70, 5, true, ""};
  const Window good30{60, 0, 60, 5, false, ""};
  const std::string back = "frame rate now 60 a second (the link keeps up again)";
  for (double wait : {6.0, 12.0, 24.0, 30.0, 30.0}) {
    Window fall = bad;
    fall.rate60After = false;
    fall.log = "frame rate now 30 a second (30% of due frames found no room, encode 5.0 ms)";
    run(rate, now, {bad, fall}, "fall");
    EXPECT_DOUBLE_EQ(rate.retry60At(), now + wait);
    EXPECT_DOUBLE_EQ(rate.frameGap(), 0.03);
    // Good windows before the wait is over count for nothing.
    const int early = int(wait / 2) - 1;
    for (int i = 0; i < early; ++i) run(rate, now, {good30}, "waiting");
    Window second = good30;
    second.rate60After = true;
    second.log = back.c_str();
    run(rate, now, {good30, second}, "return");
    EXPECT_DOUBLE_EQ(rate.frameGap(), 0.014);
  }
  // 60 held past 30 s: the next fall-back waits 6 s again.
  const Window good{120, 0, 120, 5, true, ""};
  for (int i = 0; i < 16; ++i) run(rate, now, {good}, "holding");
  EXPECT_DOUBLE_EQ(rate.retryDelay(), 6.0);
}

TEST(FrameRate, ABadWindowAtThirtyStartsTheCountOfGoodOnesAgain) {
  FrameRate rate;
  double now = 1000;
  rate.begin(now);
  rate.check(now);
  run(rate, now,
      {{100, 30, 70, 5, true, ""},
       {100, 30, 70, 5, false, "frame rate now 30 a second (30% of due frames found no room, encode 5.0 ms)"},
       {60, 0, 60, 5, false, ""}, {60, 0, 60, 5, false, ""},  // before the 6 s are over
       {60, 0, 60, 5, false, ""},                            // the first good one
       {60, 10, 50, 5, false, ""},                           // 17 % blocked: not good
       {60, 0, 60, 5, false, ""},
       {60, 0, 60, 5, true, "frame rate now 60 a second (the link keeps up again)"}},
      "reset by a bad window");
}
