#include "platform/linux/PulseSoundOut.h"

#include <pulse/pulseaudio.h>

#include "platform/MuLaw.h"

namespace plimo {

namespace {

constexpr double kStreamSeconds = 5;
// The server keeps about this much in its own buffer (60 ms) and starts
// playing once 40 ms are there: short, yet safe from underruns between 20 ms
// packets.
constexpr uint32_t kTargetBytes = 960 * sizeof(float);
constexpr uint32_t kStartBytes = 640 * sizeof(float);

bool settled(pa_stream_state_t state) { return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state); }

}  // namespace

std::unique_ptr<PulseSoundOut> PulseSoundOut::open(std::string& why) {
  std::unique_ptr<PulseSoundOut> out(new PulseSoundOut);
  out->pulse_ = PulseContext::connect("Plimo sound", why);
  if (!out->pulse_) return nullptr;
  PulseContext& pulse = *out->pulse_;

  PulseContext::Lock lock(pulse);
  pa_sample_spec format{PA_SAMPLE_FLOAT32NE, uint32_t(kSoundRate), 1};
  out->stream_ = pa_stream_new(pulse.context(), "partner sound", &format, nullptr);
  if (!out->stream_) {
    why = std::string("No sound output: ") + pa_strerror(pa_context_errno(pulse.context()));
    return nullptr;
  }
  pa_stream* stream = out->stream_;
  pa_stream_set_state_callback(stream, [](pa_stream*, void* p) { PulseContext::signal(p); }, &pulse);
  pa_buffer_attr attr;
  attr.maxlength = uint32_t(-1);
  attr.tlength = kTargetBytes;
  attr.prebuf = kStartBytes;
  attr.minreq = uint32_t(-1);
  attr.fragsize = uint32_t(-1);
  auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE |
                                 PA_STREAM_INTERPOLATE_TIMING);
  if (pa_stream_connect_playback(stream, nullptr, &attr, flags, nullptr, nullptr) < 0 ||
      !pulse.waitFor([&] { return settled(pa_stream_get_state(stream)); }, kStreamSeconds) ||
      pa_stream_get_state(stream) != PA_STREAM_READY) {
    why = std::string("No sound output: ") + pa_strerror(pa_context_errno(pulse.context()));
    return nullptr;
  }
  return out;
}

PulseSoundOut::~PulseSoundOut() {
  if (!pulse_) return;
  if (stream_) {
    PulseContext::Lock lock(*pulse_);
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
  }
  pulse_.reset();
}

void PulseSoundOut::write(std::span<const float> samples) {
  if (samples.empty()) return;
  PulseContext::Lock lock(*pulse_);
  if (pa_stream_get_state(stream_) != PA_STREAM_READY) return;
  if (pa_stream_write(stream_, samples.data(), samples.size_bytes(), nullptr, 0, PA_SEEK_RELATIVE) == 0) {
    writtenSinceFlush_ += int64_t(samples.size());
  }
}

int64_t PulseSoundOut::queued() {
  PulseContext::Lock lock(*pulse_);
  pa_usec_t latency = 0;
  int negative = 0;
  if (pa_stream_get_latency(stream_, &latency, &negative) < 0) return writtenSinceFlush_;
  if (negative) return 0;
  // Rounded up: the count must not fall below what really waits.
  return int64_t((latency * uint64_t(kSoundRate) + PA_USEC_PER_SEC - 1) / PA_USEC_PER_SEC);
}

void PulseSoundOut::flush() {
  PulseContext::Lock lock(*pulse_);
  if (pa_stream_get_state(stream_) != PA_STREAM_READY) return;
  if (pa_operation* op = pa_stream_flush(stream_, nullptr, nullptr)) pa_operation_unref(op);
  writtenSinceFlush_ = 0;
}

}  // namespace plimo
