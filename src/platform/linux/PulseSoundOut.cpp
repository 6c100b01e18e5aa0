#include "platform/linux/PulseSoundOut.h"

#include <pulse/pulseaudio.h>

#include "platform/MuLaw.h"

namespace plimo {

namespace {

// The server keeps about this much in its own buffer (60 ms) and starts
// playing once 40 ms are there: short, yet safe from underruns between 20 ms
// packets.
constexpr uint32_t kTargetBytes = 960 * sizeof(float);
constexpr uint32_t kStartBytes = 640 * sizeof(float);

}  // namespace

std::unique_ptr<PulseSoundOut> PulseSoundOut::open() {
  std::unique_ptr<PulseSoundOut> out(new PulseSoundOut);
  out->pulse_ = PulseContext::connect("Plimo sound");
  PulseContext::Lock lock(*out->pulse_);
  out->stream_ = out->pulse_->openStream("partner sound", "No sound output", [](pa_stream* stream) {
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = kTargetBytes;
    attr.prebuf = kStartBytes;
    attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(-1);
    auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE |
                                   PA_STREAM_INTERPOLATE_TIMING);
    return pa_stream_connect_playback(stream, nullptr, &attr, flags, nullptr, nullptr);
  });
  return out;
}

PulseSoundOut::~PulseSoundOut() {
  if (!stream_) return;  // the connection, if any, goes with `pulse_`
  PulseContext::Lock lock(*pulse_);
  PulseContext::closeStream(stream_);
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
