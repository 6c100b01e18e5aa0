#include "platform/linux/PulseContext.h"

#include <pulse/pulseaudio.h>

namespace plimo {

namespace {

// A server that does not answer within this time counts as absent, so that a
// hung daemon cannot hang the session.
constexpr double kConnectSeconds = 5;

bool settled(pa_context_state_t state) {
  return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
}

struct Timeout {
  pa_threaded_mainloop* loop;
  bool expired = false;
};

void expire(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data) {
  auto* timeout = static_cast<Timeout*>(data);
  timeout->expired = true;
  pa_threaded_mainloop_signal(timeout->loop, 0);
}

}  // namespace

void PulseContext::signal(void* pulse) {
  pa_threaded_mainloop_signal(static_cast<PulseContext*>(pulse)->loop_, 0);
}

std::unique_ptr<PulseContext> PulseContext::connect(const std::string& clientName, std::string& why) {
  std::unique_ptr<PulseContext> pulse(new PulseContext);
  pulse->loop_ = pa_threaded_mainloop_new();
  if (!pulse->loop_) {
    why = "PulseAudio could not be set up";
    return nullptr;
  }
  pulse->context_ = pa_context_new(pa_threaded_mainloop_get_api(pulse->loop_), clientName.c_str());
  if (!pulse->context_) {
    why = "PulseAudio could not be set up";
    return nullptr;
  }
  pa_context_set_state_callback(
      pulse->context_, [](pa_context*, void* self) { signal(self); }, pulse.get());
  if (pa_context_connect(pulse->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
      pa_threaded_mainloop_start(pulse->loop_) < 0) {
    why = std::string("No PulseAudio server: ") + pa_strerror(pa_context_errno(pulse->context_));
    return nullptr;
  }
  Lock lock(*pulse);
  pa_context* context = pulse->context_;
  bool answered = pulse->waitFor([&] { return settled(pa_context_get_state(context)); }, kConnectSeconds);
  if (!answered) {
    why = "The PulseAudio server does not answer";
    return nullptr;
  }
  if (pa_context_get_state(context) != PA_CONTEXT_READY) {
    why = std::string("No PulseAudio server: ") + pa_strerror(pa_context_errno(context));
    return nullptr;
  }
  return pulse;
}

bool PulseContext::waitFor(const std::function<bool()>& ready, double seconds) {
  if (ready()) return true;
  Timeout timeout{loop_};
  pa_time_event* event =
      pa_context_rttime_new(context_, pa_rtclock_now() + pa_usec_t(seconds * PA_USEC_PER_SEC), expire, &timeout);
  while (!ready() && !timeout.expired) pa_threaded_mainloop_wait(loop_);
  if (event) pa_threaded_mainloop_get_api(loop_)->time_free(event);
  return ready();
}

PulseContext::~PulseContext() {
  if (context_) {
    {
      Lock lock(*this);
      pa_context_set_state_callback(context_, nullptr, nullptr);
      pa_context_disconnect(context_);
      pa_context_unref(context_);
    }
  }
  if (loop_) {
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
  }
}

PulseContext::Lock::Lock(const PulseContext& pulse) : loop_(pulse.loop_) { pa_threaded_mainloop_lock(loop_); }
PulseContext::Lock::~Lock() { pa_threaded_mainloop_unlock(loop_); }

}  // namespace plimo
