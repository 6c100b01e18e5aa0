#pragma once
// Records what the default output plays (its monitor) as 16 kHz mono float
// samples, on PulseAudio's thread, and packs them for the helper.

#include <memory>

#include "platform/SoundCapture.h"
#include "platform/linux/PulseContext.h"

struct pa_stream;

namespace plimo {

class PulseSoundCapture final : public SoundCapture {
 public:
  ~PulseSoundCapture() override;
  // Throws Failure::Kind::noSound when nothing can be recorded.
  void start() override;
  // Returns once no callback runs any more.
  void stop() override;

 private:
  static void readable(pa_stream* stream, size_t bytes, void* self);

  std::unique_ptr<PulseContext> pulse_;
  pa_stream* stream_ = nullptr;
};

}  // namespace plimo
