#pragma once
// Sound capture that records nothing by itself: the test feeds it samples as
// if the system had played them, on the test's thread.

#include "platform/SoundCapture.h"

namespace plimo {

class NullSoundCapture final : public SoundCapture {
 public:
  void start() override;
  void stop() override { running = false; }

  // As captured (only while running).
  void feed(std::span<const float> samples);

  bool failStart = false;  // the next start throws noSound
  bool running = false;
  int starts = 0;
};

}  // namespace plimo
