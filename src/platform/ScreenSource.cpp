#include "platform/ScreenSource.h"

#include <algorithm>

#include "platform/MuLaw.h"

namespace plimo {

Failure noScreen() { return Failure(Failure::Kind::noDisplay, "No screen to share"); }

const Display& ScreenSource::choose(const std::vector<Display>& screens, const Display& wanted) {
  if (screens.empty()) throw noScreen();
  auto found = std::find_if(screens.begin(), screens.end(), [&](const Display& d) { return d.id == wanted.id; });
  return found != screens.end() ? *found : screens.front();
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
