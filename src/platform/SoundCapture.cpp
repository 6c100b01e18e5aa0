#include "platform/SoundCapture.h"

#include "platform/MuLaw.h"

namespace plimo {

void SoundCapture::setAudioOn(bool on) {
  std::lock_guard guard(lock_);
  audioOn_ = on;
  if (!on) buffer_.clear();
}

size_t SoundCapture::pendingSamples() {
  std::lock_guard guard(lock_);
  return buffer_.size();
}

void SoundCapture::takeSound(std::span<const float> samples) {
  std::vector<Bytes> packets;
  {
    std::lock_guard guard(lock_);
    if (!audioOn_ || !onAudio) return;
    packets = packSound(buffer_, samples);
  }
  for (auto& packet : packets) onAudio(std::move(packet));
}

}  // namespace plimo
