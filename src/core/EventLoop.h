#pragma once
// The main loop every timing rule runs on. The model and the protocol objects
// live on one thread (the loop's); I/O threads reach them only through post().

#include <functional>
#include <memory>

namespace plimo {

// A scheduled timer. Destroying the handle cancels it; a cancelled timer never
// fires again. Create and destroy handles on the loop's thread only.
class TimerHandle {
 public:
  virtual ~TimerHandle() = default;
};
using Timer = std::unique_ptr<TimerHandle>;

class EventLoop {
 public:
  virtual ~EventLoop() = default;

  // Monotonic seconds (the system uptime of the protocol's timeouts).
  virtual double now() const = 0;
  // Seconds since the Unix epoch, for dates in the log, reports and liveness.
  virtual double wallNow() const = 0;

  // Runs fn on the loop's thread soon. Safe from any thread.
  virtual void post(std::function<void()> fn) = 0;

  // Runs fn once after `seconds`, on the loop's thread.
  [[nodiscard]] virtual Timer after(double seconds, std::function<void()> fn) = 0;
  // Runs fn every `seconds`, the first time one period from now.
  [[nodiscard]] virtual Timer every(double seconds, std::function<void()> fn) = 0;
};

}  // namespace plimo
