#include "core/AsioLoop.h"

#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>

namespace plimo {

namespace {

// One timer; the shared state outlives the handle so that a completion already
// queued when the handle is dropped sees `cancelled` and does nothing.
struct TimerState {
  explicit TimerState(asio::io_context& context) : timer(context) {}
  asio::steady_timer timer;
  std::function<void()> fn;
  std::chrono::nanoseconds period{0};
  bool cancelled = false;
};

void arm(const std::shared_ptr<TimerState>& state, std::chrono::steady_clock::time_point due) {
  state->timer.expires_at(due);
  std::weak_ptr<TimerState> weak = state;
  state->timer.async_wait([weak, due](const std::error_code& error) {
    auto s = weak.lock();
    if (!s || s->cancelled || error) return;
    if (s->period.count() > 0) arm(s, due + s->period);
    // Keep the state alive while its own callback may drop the handle.
    auto keep = s;
    keep->fn();
  });
}

class AsioTimer final : public TimerHandle {
 public:
  explicit AsioTimer(std::shared_ptr<TimerState> state) : state_(std::move(state)) {}
  ~AsioTimer() override {
    state_->cancelled = true;
    state_->timer.cancel();
  }

 private:
  std::shared_ptr<TimerState> state_;
};

std::chrono::nanoseconds toDuration(double seconds) {
  return std::chrono::nanoseconds(int64_t((seconds > 0 ? seconds : 0) * 1e9));
}

}  // namespace

AsioLoop::AsioLoop() : work_(asio::make_work_guard(context_)) {}

AsioLoop::~AsioLoop() = default;

double AsioLoop::now() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double AsioLoop::wallNow() const {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

void AsioLoop::post(std::function<void()> fn) { asio::post(context_, std::move(fn)); }

Timer AsioLoop::after(double seconds, std::function<void()> fn) {
  auto state = std::make_shared<TimerState>(context_);
  state->fn = std::move(fn);
  arm(state, std::chrono::steady_clock::now() + toDuration(seconds));
  return std::make_unique<AsioTimer>(state);
}

Timer AsioLoop::every(double seconds, std::function<void()> fn) {
  auto state = std::make_shared<TimerState>(context_);
  state->fn = std::move(fn);
  state->period = std::max(toDuration(seconds), std::chrono::nanoseconds(1000));
  arm(state, std::chrono::steady_clock::now() + state->period);
  return std::make_unique<AsioTimer>(state);
}

void AsioLoop::run() {
  context_.restart();
  context_.run();
}

void AsioLoop::stop() { context_.stop(); }

}  // namespace plimo
