// The anti-replay window on its own.

#include <gtest/gtest.h>

#include "protocol/wire/ReplayWindow.h"

using namespace plimo;

TEST(ReplayWindow, EachCounterOnceWithinSixtyFour) {
  ReplayWindow w;
  EXPECT_FALSE(w.isFresh(0));
  for (uint64_t c : {5, 3, 70, 7, 69}) {
    ASSERT_TRUE(w.isFresh(c)) << c;
    w.mark(c);
    EXPECT_FALSE(w.isFresh(c)) << c;
  }
  // highest = 70: 7 is the oldest counter still covered, 6 is not.
  EXPECT_FALSE(w.isFresh(6));
  EXPECT_FALSE(w.isFresh(5));
  EXPECT_TRUE(w.isFresh(8));
  EXPECT_TRUE(w.isFresh(68));
  EXPECT_TRUE(w.isFresh(71));
  EXPECT_FALSE(w.isFresh(0));
}

TEST(ReplayWindow, AJumpOfSixtyFourOrMoreClearsTheHistory) {
  ReplayWindow w;
  w.mark(10);
  w.mark(200);
  EXPECT_EQ(w.highest, 200u);
  EXPECT_EQ(w.bits, 1u);
  EXPECT_FALSE(w.isFresh(10));
  EXPECT_TRUE(w.isFresh(199));
  EXPECT_TRUE(w.isFresh(137));
  EXPECT_FALSE(w.isFresh(136));

  // A jump of exactly 63 keeps the old counter at the window's far edge.
  ReplayWindow edge;
  edge.mark(1);
  edge.mark(64);
  EXPECT_EQ(edge.bits, (uint64_t(1) << 63) | 1);
  EXPECT_FALSE(edge.isFresh(1));
  ReplayWindow past;
  past.mark(1);
  past.mark(65);
  EXPECT_EQ(past.bits, 1u);
}

TEST(ReplayWindow, ExtremeCountersDoNotOverflow) {
  ReplayWindow w;
  w.mark(UINT64_MAX);
  EXPECT_FALSE(w.isFresh(UINT64_MAX));
  EXPECT_TRUE(w.isFresh(UINT64_MAX - 63));
  EXPECT_FALSE(w.isFresh(UINT64_MAX - 64));
  EXPECT_FALSE(w.isFresh(1));
  w.mark(1);  // older than the window: no effect
  EXPECT_EQ(w.bits, 1u);
}
