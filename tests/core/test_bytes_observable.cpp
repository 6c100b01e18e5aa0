#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/Bytes.h"
#include "core/Observable.h"

using namespace plimo;

TEST(Bytes, LittleEndianRoundTripAtOffsets) {
  Bytes b = {0xAA};
  appendLE<uint16_t>(b, 0x1234);
  appendLE<uint32_t>(b, 0xDEADBEEF);
  appendLE<uint64_t>(b, 0x0102030405060708ull);
  EXPECT_EQ(b, (Bytes{0xAA, 0x34, 0x12, 0xEF, 0xBE, 0xAD, 0xDE, 8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(readLE16(b, 1), 0x1234);
  EXPECT_EQ(readLE32(b, 3), 0xDEADBEEFu);
  EXPECT_EQ(readLE64(b, 7), 0x0102030405060708ull);
  EXPECT_EQ(readBE<uint16_t>(b, 1), 0x3412);
  EXPECT_EQ(bytes(b, 3, 4), (Bytes{0xEF, 0xBE, 0xAD, 0xDE}));
}

TEST(Bytes, RangeCheckDoesNotOverflow) {
  EXPECT_TRUE(inRange(10, 0, 10));
  EXPECT_TRUE(inRange(10, 10, 0));
  EXPECT_FALSE(inRange(10, 11, 0));
  EXPECT_FALSE(inRange(10, 5, 6));
  EXPECT_FALSE(inRange(10, 5, SIZE_MAX));
}

TEST(Observable, NotifiesOnlyOnRealChange) {
  Observable<std::string> text("a");
  int changes = 0;
  auto subscription = text.observe([&](const std::string&) { ++changes; });
  text = "a";
  EXPECT_EQ(changes, 0);
  text = "b";
  text = "b";
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(text.get(), "b");
}

TEST(Observable, DroppedSubscriptionHearsNothingMore) {
  Observable<int> value(0);
  std::vector<std::string> heard;
  Subscription first = value.observe([&](int v) { heard.push_back("first " + std::to_string(v)); });
  Subscription second;
  // An observer that drops another during a change: the dropped one is not
  // called for that change, nor later.
  Subscription dropper = value.observe([&](int v) {
    heard.push_back("dropper " + std::to_string(v));
    second.reset();
  });
  second = value.observe([&](int v) { heard.push_back("second " + std::to_string(v)); });
  value = 1;
  first.reset();
  value = 2;
  EXPECT_EQ(heard, (std::vector<std::string>{"first 1", "dropper 1", "dropper 2"}));

  // A subscription may outlive its value (a window closing after the model).
  auto gone = std::make_unique<Observable<int>>(0);
  Subscription late = gone->observe([&](int) { heard.push_back("late"); });
  gone.reset();
  late.reset();
  EXPECT_EQ(heard.size(), 3u);
}
