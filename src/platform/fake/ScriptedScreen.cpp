#include "platform/fake/ScriptedScreen.h"

#include <algorithm>

namespace plimo {

void ScriptedScreen::start(const Display& wanted, const std::vector<uint32_t>& excluding) {
  stop();
  ++starts;
  if (failNext) {
    const Failure failure = *failNext;
    failNext.reset();
    throw failure;
  }
  if (!sharedScreens.empty()) screens = sharedScreens;
  const Display& shown = choose(screens, wanted);
  Size even{double(int(pictureSize.width) & ~1), double(int(pictureSize.height) & ~1)};
  began(shown, even, excluding);
  running = true;
}

void ScriptedScreen::stop() {
  if (!running) return;
  running = false;
  ++stops;
}

void ScriptedScreen::show(PictureRef picture) {
  if (running) slot.publish(std::move(picture));
}

void ScriptedScreen::showNext(SyntheticDesktop& desktop) {
  ByteView source = desktop.next();
  auto picture = std::make_shared<Picture>(desktop.width(), desktop.height());
  std::copy(source.begin(), source.end(), picture->pixels.begin());
  show(std::move(picture));
}

void ScriptedScreen::die(const std::string& reason) {
  running = false;
  if (onStopped) onStopped(reason);
}

void ScriptedScreen::endSharing(const std::string& reason) {
  running = false;
  if (onSharingEnded) onSharingEnded(reason);
}

}  // namespace plimo
