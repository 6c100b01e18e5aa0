#include "platform/ScreenSource.h"

#include <algorithm>

namespace plimo {

Failure noScreen() { return Failure(Failure::Kind::noDisplay, "No screen to share"); }

const Display& ScreenSource::choose(const std::vector<Display>& screens, const Display& wanted) {
  if (screens.empty()) throw noScreen();
  auto found = std::find_if(screens.begin(), screens.end(), [&](const Display& d) { return d.id == wanted.id; });
  return found != screens.end() ? *found : screens.front();
}

void ScreenSource::began(const Display& shown, Size pictureSize, const std::vector<uint32_t>& excluding) {
  display_ = shown;
  excluded_ = excluding;
  slot.reset(pictureSize);
}

}  // namespace plimo
