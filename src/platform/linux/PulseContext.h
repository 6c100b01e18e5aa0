#pragma once
// A connection to the PulseAudio server on its own thread (a threaded main
// loop). Streams made on it are driven by that thread; their callbacks run
// there with the loop's lock held.

#include <functional>
#include <memory>
#include <string>

struct pa_threaded_mainloop;
struct pa_context;

namespace plimo {

class PulseContext {
 public:
  // Connects (never spawning a server); nothing, with the reason in `why`,
  // when no server answers within a few seconds.
  static std::unique_ptr<PulseContext> connect(const std::string& clientName, std::string& why);
  ~PulseContext();
  PulseContext(const PulseContext&) = delete;
  PulseContext& operator=(const PulseContext&) = delete;

  pa_threaded_mainloop* loop() const { return loop_; }
  pa_context* context() const { return context_; }

  // Holds the loop's lock for as long as it lives (not on the loop's thread).
  class Lock {
   public:
    explicit Lock(const PulseContext& pulse);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    pa_threaded_mainloop* loop_;
  };

  // With the lock held: waits until `ready()` holds or `seconds` passed (the
  // loop signals on every state change). Returns whether it holds.
  bool waitFor(const std::function<bool()>& ready, double seconds);

  // Wakes `waitFor`; for state callbacks.
  static void signal(void* pulse);

 private:
  PulseContext() = default;

  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
};

}  // namespace plimo
