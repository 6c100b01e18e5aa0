#pragma once
// Virtual time for tests: nothing happens until the test advances the clock,
// and then every posted task and due timer runs in time order.

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "core/EventLoop.h"
#include "core/Weakly.h"

namespace plimo {

class ManualLoop final : public EventLoop {
 public:
  // Uptime starts at `start` so that "never" (0) is distinguishable from now.
  explicit ManualLoop(double start = 1000.0, double wallStart = 1.8e9);
  ~ManualLoop() override;

  double now() const override { return now_; }
  double wallNow() const override { return wallStart_ + (now_ - start_); }
  void post(std::function<void()> fn) override;
  Timer after(double seconds, std::function<void()> fn) override;
  Timer every(double seconds, std::function<void()> fn) override;

  // Runs posted tasks (also those they post) without moving the clock.
  void runPending();
  // Moves the clock forward by `seconds`, running every timer that falls due
  // at its own time, in order, with posted tasks run after each step.
  void advance(double seconds);
  // Advances in steps of `step` until pred() holds or `limit` seconds passed.
  bool runUntil(const std::function<bool()>& pred, double limit, double step = 0.001);

  size_t pendingTimers() const { return timers_.size(); }

 private:
  struct Entry {
    double period;  // 0 for one-shot
    std::function<void()> fn;
  };
  class Handle;
  using Key = std::pair<double, uint64_t>;  // due time, then creation order

  Timer schedule(double delay, double period, std::function<void()> fn);
  void cancel(uint64_t id);

  double start_;
  double wallStart_;
  double now_;
  uint64_t nextId_ = 1;
  std::map<Key, Entry> timers_;
  std::map<uint64_t, Key> keyOf_;
  std::mutex postedLock_;
  std::vector<std::function<void()>> posted_;
  LifeGuard<ManualLoop> guard_{this};
};

}  // namespace plimo
