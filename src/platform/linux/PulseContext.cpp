#include "platform/linux/PulseContext.h"

#include <pulse/pulseaudio.h>

#include "platform/MuLaw.h"

namespace plimo {

namespace {

// A server that does not answer within this time counts as absent, so that a
// hung daemon cannot hang the session.
constexpr double kConnectSeconds = 5;
// How long the server may take to set a stream up.
constexpr double kStreamSeconds = 5;

bool settled(pa_context_state_t state) {
  return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
}

bool settled(pa_stream_state_t state) { return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state); }

Failure noSound(const std::string& text, int code = 0) { return Failure(Failure::Kind::noSound, text, code); }

// With the server's reason for the last failed call on `context`.
Failure serverRefused(const char* what, pa_context* context) {
  const int code = pa_context_errno(context);
  return noSound(std::string(what) + ": " + pa_strerror(code), code);
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

std::unique_ptr<PulseContext> PulseContext::connect(const std::string& clientName) {
  std::unique_ptr<PulseContext> pulse(new PulseContext);
  pulse->loop_ = pa_threaded_mainloop_new();
  if (!pulse->loop_) throw noSound("PulseAudio could not be set up");
  pulse->context_ = pa_context_new(pa_threaded_mainloop_get_api(pulse->loop_), clientName.c_str());
  if (!pulse->context_) throw noSound("PulseAudio could not be set up");
  pa_context_set_state_callback(
      pulse->context_, [](pa_context*, void* self) { signal(self); }, pulse.get());
  if (pa_context_connect(pulse->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
      pa_threaded_mainloop_start(pulse->loop_) < 0)
    throw serverRefused("No PulseAudio server", pulse->context_);
  Lock lock(*pulse);
  pa_context* context = pulse->context_;
  bool answered = pulse->waitFor([&] { return settled(pa_context_get_state(context)); }, kConnectSeconds);
  if (!answered) throw noSound("The PulseAudio server does not answer");
  if (pa_context_get_state(context) != PA_CONTEXT_READY) throw serverRefused("No PulseAudio server", context);
  return pulse;
}

pa_stream* PulseContext::openStream(const char* name, const char* what,
                                    const std::function<int(pa_stream*)>& connect) {
  pa_sample_spec format{PA_SAMPLE_FLOAT32NE, uint32_t(kSoundRate), 1};
  pa_stream* stream = pa_stream_new(context_, name, &format, nullptr);
  if (!stream) throw serverRefused(what, context_);
  pa_stream_set_state_callback(stream, [](pa_stream*, void* pulse) { signal(pulse); }, this);
  if (connect(stream) < 0 || !waitFor([&] { return settled(pa_stream_get_state(stream)); }, kStreamSeconds) ||
      pa_stream_get_state(stream) != PA_STREAM_READY) {
    Failure failure = serverRefused(what, context_);
    closeStream(stream);
    throw failure;
  }
  return stream;
}

void PulseContext::closeStream(pa_stream* stream) {
  pa_stream_set_read_callback(stream, nullptr, nullptr);
  pa_stream_set_state_callback(stream, nullptr, nullptr);
  pa_stream_disconnect(stream);
  pa_stream_unref(stream);
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
