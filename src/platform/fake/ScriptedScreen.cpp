#include "platform/fake/ScriptedScreen.h"

#include <algorithm>

namespace plimo {

std::optional<CaptureError> ScriptedScreen::start(const Display& wanted, bool withAudio,
                                                  const std::vector<uint32_t>& excluding) {
  stop();
  ++starts;
  if (failNext) {
    auto error = *failNext;
    failNext.reset();
    return error;
  }
  auto found = std::find_if(screens.begin(), screens.end(),
                            [&](const Display& d) { return d.id == wanted.id; });
  if (found == screens.end()) {
    if (screens.empty()) return CaptureError::noDisplay;
    found = screens.begin();
  }
  Size even{double(int(pictureSize.width) & ~1), double(int(pictureSize.height) & ~1)};
  began(*found, even, withAudio, excluding);
  running = true;
  return std::nullopt;
}

void ScriptedScreen::stop() {
  if (!running) return;
  running = false;
  ++stops;
}

void ScriptedScreen::show(PictureRef picture) {
  if (running) publish(std::move(picture));
}

void ScriptedScreen::showNext(SyntheticDesktop& desktop) {
  ByteView source = desktop.next();
  auto picture = std::make_shared<Picture>(desktop.width(), desktop.height());
  std::copy(source.begin(), source.end(), picture->pixels.begin());
  show(std::move(picture));
}

void ScriptedScreen::sound(std::span<const float> samples) {
  if (running) takeSound(samples);
}

void ScriptedScreen::die(const std::string& reason) {
  running = false;
  if (onStopped) onStopped(reason);
}

}  // namespace plimo
