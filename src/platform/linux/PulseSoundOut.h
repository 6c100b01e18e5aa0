#pragma once
// Plays 16 kHz mono float samples on the default output through PulseAudio.

#include <memory>

#include "platform/SoundOut.h"
#include "platform/linux/PulseContext.h"

struct pa_stream;

namespace plimo {

class PulseSoundOut final : public SoundOut {
 public:
  // Throws Failure::Kind::noSound when no sound can be played.
  static std::unique_ptr<PulseSoundOut> open();
  ~PulseSoundOut() override;

  void write(std::span<const float> samples) override;
  int64_t queued() override;
  void flush() override;

 private:
  PulseSoundOut() = default;

  std::unique_ptr<PulseContext> pulse_;
  pa_stream* stream_ = nullptr;
  // Written since the last flush: the answer while the server's timing is not
  // known yet (at the start and just after a flush), never too small.
  int64_t writtenSinceFlush_ = 0;
};

}  // namespace plimo
