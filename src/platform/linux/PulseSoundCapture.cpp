#include "platform/linux/PulseSoundCapture.h"

#include <pulse/pulseaudio.h>

#include "platform/MuLaw.h"

namespace plimo {

namespace {

// How long the server may take to set the stream up.
constexpr double kStreamSeconds = 5;

bool settled(pa_stream_state_t state) { return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state); }

}  // namespace

std::unique_ptr<PulseSoundCapture> PulseSoundCapture::start(Samples onSamples, std::string& why) {
  std::unique_ptr<PulseSoundCapture> capture(new PulseSoundCapture);
  capture->onSamples_ = std::move(onSamples);
  capture->pulse_ = PulseContext::connect("Plimo capture", why);
  if (!capture->pulse_) return nullptr;
  PulseContext& pulse = *capture->pulse_;

  PulseContext::Lock lock(pulse);
  pa_sample_spec format{PA_SAMPLE_FLOAT32NE, uint32_t(kSoundRate), 1};
  capture->stream_ = pa_stream_new(pulse.context(), "system sound", &format, nullptr);
  if (!capture->stream_) {
    why = std::string("No sound capture: ") + pa_strerror(pa_context_errno(pulse.context()));
    return nullptr;
  }
  pa_stream* stream = capture->stream_;
  pa_stream_set_state_callback(stream, [](pa_stream*, void* p) { PulseContext::signal(p); }, &pulse);
  pa_stream_set_read_callback(stream, &PulseSoundCapture::readable, capture.get());
  pa_buffer_attr attr;
  attr.maxlength = uint32_t(-1);
  attr.tlength = attr.prebuf = attr.minreq = uint32_t(-1);
  // Delivered in packet-sized pieces, so that sound leaves without waiting.
  attr.fragsize = uint32_t(kSoundPacketSamples * sizeof(float));
  if (pa_stream_connect_record(stream, "@DEFAULT_MONITOR@", &attr, PA_STREAM_ADJUST_LATENCY) < 0 ||
      !pulse.waitFor([&] { return settled(pa_stream_get_state(stream)); }, kStreamSeconds) ||
      pa_stream_get_state(stream) != PA_STREAM_READY) {
    why = std::string("No sound capture: ") + pa_strerror(pa_context_errno(pulse.context()));
    return nullptr;
  }
  return capture;
}

void PulseSoundCapture::readable(pa_stream* stream, size_t, void* self) {
  auto* capture = static_cast<PulseSoundCapture*>(self);
  while (pa_stream_readable_size(stream) > 0) {
    const void* data = nullptr;
    size_t bytes = 0;
    if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) return;
    // A hole (no data) is dropped: silence the server never had.
    if (data) capture->onSamples_({static_cast<const float*>(data), bytes / sizeof(float)});
    pa_stream_drop(stream);
  }
}

PulseSoundCapture::~PulseSoundCapture() {
  if (!pulse_) return;
  if (stream_) {
    PulseContext::Lock lock(*pulse_);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
  }
  pulse_.reset();
}

}  // namespace plimo
