#include "platform/linux/PulseSoundCapture.h"

#include <pulse/pulseaudio.h>

#include "platform/MuLaw.h"

namespace plimo {

void PulseSoundCapture::start() {
  stop();
  auto pulse = PulseContext::connect("Plimo capture");
  PulseContext::Lock lock(*pulse);
  stream_ = pulse->openStream("system sound", "No sound capture", [&](pa_stream* stream) {
    pa_stream_set_read_callback(stream, &PulseSoundCapture::readable, this);
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = attr.prebuf = attr.minreq = uint32_t(-1);
    // Delivered in packet-sized pieces, so that sound leaves without waiting.
    attr.fragsize = uint32_t(kSoundPacketSamples * sizeof(float));
    return pa_stream_connect_record(stream, "@DEFAULT_MONITOR@", &attr, PA_STREAM_ADJUST_LATENCY);
  });
  pulse_ = std::move(pulse);
}

void PulseSoundCapture::readable(pa_stream* stream, size_t, void* self) {
  auto* capture = static_cast<PulseSoundCapture*>(self);
  while (pa_stream_readable_size(stream) > 0) {
    const void* data = nullptr;
    size_t bytes = 0;
    if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) return;
    // A hole (no data) is dropped: silence the server never had.
    if (data) capture->takeSound({static_cast<const float*>(data), bytes / sizeof(float)});
    pa_stream_drop(stream);
  }
}

void PulseSoundCapture::stop() {
  if (stream_) {
    PulseContext::Lock lock(*pulse_);
    PulseContext::closeStream(stream_);
    stream_ = nullptr;
  }
  pulse_.reset();
}

PulseSoundCapture::~PulseSoundCapture() { stop(); }

}  // namespace plimo
