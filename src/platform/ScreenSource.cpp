#include "platform/ScreenSource.h"

#include "platform/MuLaw.h"

namespace plimo {

std::string describe(CaptureError error) {
  switch (error) {
    case CaptureError::noDisplay: return "No screen to share";
    case CaptureError::noServer: return "The X display cannot be reached";
    case CaptureError::unsupported: return "The screen's pixel format cannot be captured";
  }
  return "Capture failed";
}

void ScreenSource::setAudioOn(bool on) {
  std::lock_guard guard(lock);
  audioOn = on;
  if (!on) audioBuffer.clear();
}

void ScreenSource::began(const Display& shown, Size pictureSize, bool withAudio,
                         const std::vector<uint32_t>& excluding) {
  std::lock_guard guard(lock);
  display = shown;
  size = pictureSize;
  latest.reset();
  changed = false;
  audioOn = withAudio;
  audioBuffer.clear();
  excludedWindows = excluding;
}

void ScreenSource::publish(PictureRef picture) {
  std::lock_guard guard(lock);
  latest = std::move(picture);
  changed = true;
}

void ScreenSource::takeSound(std::span<const float> samples) {
  std::vector<Bytes> packets;
  {
    std::lock_guard guard(lock);
    if (!audioOn || !onAudio) return;
    packets = packSound(audioBuffer, samples);
  }
  for (auto& packet : packets) onAudio(std::move(packet));
}

}  // namespace plimo
