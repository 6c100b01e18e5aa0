#include "core/ManualLoop.h"

namespace plimo {

class ManualLoop::Handle final : public TimerHandle {
 public:
  Handle(std::weak_ptr<ManualLoop> loop, uint64_t id) : loop_(std::move(loop)), id_(id) {}
  ~Handle() override {
    if (auto loop = loop_.lock()) loop->cancel(id_);
  }

 private:
  std::weak_ptr<ManualLoop> loop_;
  uint64_t id_;
};

ManualLoop::ManualLoop(double start, double wallStart) : start_(start), wallStart_(wallStart), now_(start) {}

ManualLoop::~ManualLoop() = default;

void ManualLoop::post(std::function<void()> fn) {
  std::lock_guard<std::mutex> guard(postedLock_);
  posted_.push_back(std::move(fn));
}

Timer ManualLoop::after(double seconds, std::function<void()> fn) {
  return schedule(seconds, 0, std::move(fn));
}

Timer ManualLoop::every(double seconds, std::function<void()> fn) {
  // A period of zero would spin forever in virtual time.
  return schedule(seconds, seconds > 0 ? seconds : 1e-6, std::move(fn));
}

Timer ManualLoop::schedule(double delay, double period, std::function<void()> fn) {
  uint64_t id = nextId_++;
  Key key{now_ + (delay > 0 ? delay : 0), id};
  timers_.emplace(key, Entry{period, std::move(fn)});
  keyOf_.emplace(id, key);
  return std::make_unique<Handle>(guard_.weak(), id);
}

void ManualLoop::cancel(uint64_t id) {
  auto it = keyOf_.find(id);
  if (it == keyOf_.end()) return;
  timers_.erase(it->second);
  keyOf_.erase(it);
}

void ManualLoop::runPending() {
  for (;;) {
    std::vector<std::function<void()>> batch;
    {
      std::lock_guard<std::mutex> guard(postedLock_);
      batch.swap(posted_);
    }
    if (batch.empty()) return;
    for (auto& fn : batch) fn();
  }
}

void ManualLoop::advance(double seconds) {
  double end = now_ + seconds;
  runPending();
  while (!timers_.empty() && timers_.begin()->first.first <= end + 1e-12) {
    auto it = timers_.begin();
    Key key = it->first;
    uint64_t id = key.second;
    if (key.first > now_) now_ = key.first;
    Entry entry = std::move(it->second);
    timers_.erase(it);
    keyOf_.erase(id);
    if (entry.period > 0) {
      // Re-arm before running so that the callback may drop its own handle.
      Key next{key.first + entry.period, id};
      timers_.emplace(next, Entry{entry.period, entry.fn});
      keyOf_.emplace(id, next);
    }
    entry.fn();
    runPending();
  }
  if (end > now_) now_ = end;
  runPending();
}

bool ManualLoop::runUntil(const std::function<bool()>& pred, double limit, double step) {
  double end = now_ + limit;
  runPending();
  while (!pred()) {
    if (now_ >= end) return false;
    advance(step);
  }
  return true;
}

}  // namespace plimo
