#pragma once
// Records what the default output plays (its monitor) as 16 kHz mono float
// samples, on PulseAudio's thread.

#include <functional>
#include <memory>
#include <span>

#include "platform/linux/PulseContext.h"

struct pa_stream;

namespace plimo {

class PulseSoundCapture {
 public:
  using Samples = std::function<void(std::span<const float>)>;

  // Starts recording; `onSamples` runs on PulseAudio's thread until the
  // capture is destroyed. Throws Failure::Kind::noSound when nothing can be
  // recorded.
  static std::unique_ptr<PulseSoundCapture> start(Samples onSamples);
  // Returns once no callback runs any more.
  ~PulseSoundCapture();

 private:
  PulseSoundCapture() = default;
  static void readable(pa_stream* stream, size_t bytes, void* self);

  std::unique_ptr<PulseContext> pulse_;
  pa_stream* stream_ = nullptr;
  Samples onSamples_;
};

}  // namespace plimo
