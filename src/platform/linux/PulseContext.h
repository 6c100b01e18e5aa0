#pragma once
// A connection to the PulseAudio server on its own thread (a threaded main
// loop). Streams made on it are driven by that thread; their callbacks run
// there with the loop's lock held. Failures are Failure::Kind::noSound, with
// PulseAudio's error as code where it gave one.

#include <functional>
#include <memory>
#include <string>

#include "core/Failure.h"

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

namespace plimo {

class PulseContext {
 public:
  // Connects (never spawning a server). Throws when no server answers within
  // a few seconds.
  static std::unique_ptr<PulseContext> connect(const std::string& clientName);
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

  // With the lock held: a 16 kHz mono float stream named `name`, connected by
  // `connect` (which sets the callbacks it needs, makes the pa_stream_connect_*
  // call and returns its status) and ready within a few seconds. Throws with
  // the text `what` (e.g. "No sound output") and the server's reason.
  pa_stream* openStream(const char* name, const char* what, const std::function<int(pa_stream*)>& connect);
  // With the lock held: disconnects and frees a stream of `openStream`; none
  // of its callbacks runs afterwards.
  static void closeStream(pa_stream* stream);

  // Wakes `waitFor`; for state callbacks.
  static void signal(void* pulse);

 private:
  PulseContext() = default;

  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
};

}  // namespace plimo
