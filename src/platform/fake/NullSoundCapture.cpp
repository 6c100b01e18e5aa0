#include "platform/fake/NullSoundCapture.h"

#include <utility>

#include "core/Failure.h"

namespace plimo {

void NullSoundCapture::start() {
  ++starts;
  if (std::exchange(failStart, false)) throw Failure(Failure::Kind::noSound, "No PulseAudio server: test");
  running = true;
}

void NullSoundCapture::feed(std::span<const float> samples) {
  if (running) takeSound(samples);
}

}  // namespace plimo
