#include <gtest/gtest.h>

#include <thread>

#include "core/AsioLoop.h"
#include "core/ManualLoop.h"

using namespace plimo;

TEST(ManualLoop, TimersFireInTimeOrderAndRepeat) {
  ManualLoop loop;
  std::vector<std::pair<std::string, double>> fired;
  double t0 = loop.now();
  auto a = loop.every(1.0, [&] { fired.push_back({"a", loop.now() - t0}); });
  auto b = loop.after(0.5, [&] { fired.push_back({"b", loop.now() - t0}); });
  auto c = loop.after(2.5, [&] { fired.push_back({"c", loop.now() - t0}); });
  loop.advance(3.0);
  std::vector<std::pair<std::string, double>> want = {
      {"b", 0.5}, {"a", 1.0}, {"a", 2.0}, {"c", 2.5}, {"a", 3.0}};
  ASSERT_EQ(fired.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(fired[i].first, want[i].first) << i;
    EXPECT_NEAR(fired[i].second, want[i].second, 1e-9) << i;
  }
  EXPECT_NEAR(loop.now() - t0, 3.0, 1e-9);
}

TEST(ManualLoop, DroppedHandleStopsTimerAlsoFromItsOwnCallback) {
  ManualLoop loop;
  int count = 0;
  Timer timer;
  timer = loop.every(0.2, [&] {
    if (++count == 3) timer.reset();
  });
  loop.advance(5);
  EXPECT_EQ(count, 3);

  int once = 0;
  auto t = loop.after(1, [&] { ++once; });
  t.reset();
  loop.advance(2);
  EXPECT_EQ(once, 0);
  EXPECT_EQ(loop.pendingTimers(), 0u);
}

TEST(ManualLoop, PostedTasksRunInOrderFromAnyThread) {
  ManualLoop loop;
  std::vector<int> order;
  std::thread other([&] { loop.post([&] { order.push_back(1); }); });
  other.join();
  loop.post([&] {
    order.push_back(2);
    loop.post([&] { order.push_back(3); });
  });
  loop.runPending();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(ManualLoop, WallClockMovesWithVirtualTime) {
  ManualLoop loop;
  double wall = loop.wallNow();
  loop.advance(65);
  EXPECT_NEAR(loop.wallNow() - wall, 65, 1e-9);
}

TEST(AsioLoop, RunsTimersAndPostsThenStops) {
  AsioLoop loop;
  int ticks = 0;
  bool posted = false;
  auto t = loop.every(0.01, [&] {
    if (++ticks == 3) loop.stop();
  });
  std::thread other([&] { loop.post([&] { posted = true; }); });
  loop.run();
  other.join();
  EXPECT_EQ(ticks, 3);
  EXPECT_TRUE(posted);
}

TEST(AsioLoop, DroppedTimerNeverFires) {
  AsioLoop loop;
  bool fired = false;
  auto t = loop.after(0.01, [&] { fired = true; });
  t.reset();
  auto stopper = loop.after(0.05, [&] { loop.stop(); });
  loop.run();
  EXPECT_FALSE(fired);
}
