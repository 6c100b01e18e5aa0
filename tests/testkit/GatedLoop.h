#pragma once
// A ManualLoop whose post() can be watched and held from the test thread, for
// tests of real sockets: the test waits (without sleeping) until an I/O
// thread has posted, and can keep that I/O thread inside post() while it
// lines up more input, so that a "batch" is deterministic.

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "core/ManualLoop.h"

namespace plimo::testkit {

class GatedLoop final : public EventLoop {
 public:
  double now() const override { return inner.now(); }
  double wallNow() const override { return inner.wallNow(); }
  Timer after(double s, std::function<void()> fn) override { return inner.after(s, std::move(fn)); }
  Timer every(double s, std::function<void()> fn) override { return inner.every(s, std::move(fn)); }

  // Each posted task is one "main-loop task"; `tasks` counts them.
  void post(std::function<void()> fn) override {
    std::unique_lock<std::mutex> lock(mutex_);
    inner.post([this, fn = std::move(fn)] {
      ++ran;
      fn();
    });
    ++posts_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !held_; });
  }

  // While held, the next post() returns only after release().
  void hold() {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = true;
  }
  void release() {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = false;
    changed_.notify_all();
  }
  // Waits until `count` posts happened in all; false after 10 s.
  bool waitForPosts(int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return posts_ >= count; });
  }

  ManualLoop inner;
  int ran = 0;  // posted tasks run so far (loop thread only)

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool held_ = false;
  int posts_ = 0;
};

}  // namespace plimo::testkit
