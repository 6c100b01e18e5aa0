#include "platform/wayland/WaylandScreen.h"

#include <algorithm>

#include "platform/wayland/PipeWireStream.h"

namespace plimo {

WaylandScreen::WaylandScreen(std::function<GrantedShare()> open,
                             std::function<std::vector<Display>()> monitors, std::shared_ptr<WaylandShown> shown)
    : open_(std::move(open)), monitors_(std::move(monitors)), shown_(std::move(shown)) {}

WaylandScreen::~WaylandScreen() {
  stop();
  if (shown_->share == share_) *shown_ = {};
}

std::vector<Display> WaylandScreen::displays() {
  if (streams_.empty()) return monitors_();
  std::vector<Display> screens;
  for (const auto& s : streams_) screens.push_back(s.display);
  return screens;
}

void WaylandScreen::start(const Display& wanted, const std::vector<uint32_t>& excluding) {
  stop();
  if (!share_) {
    GrantedShare granted = open_();
    granted.share->onClosed = [this](const std::string& reason) { ended(reason, true); };
    granted.share->watch();
    streams_ = std::move(granted.streams);
    share_ = std::move(granted.share);
  }
  std::vector<Display> screens = displays();
  const Display& chosen = choose(screens, wanted);
  auto stream = std::find_if(streams_.begin(), streams_.end(),
                             [&](const DesktopShare::Stream& s) { return s.display.id == chosen.id; });
  const Rect& b = stream->display.bounds;
  began(stream->display, {b.width, b.height}, excluding);
  {
    std::lock_guard guard(endLock_);
    endTold_ = false;
  }
  stream_ = std::make_unique<PipeWireStream>(
      share_->pipeWireFd(), stream->node, int(b.width), int(b.height),
      [this](PictureRef picture) { slot.publish(std::move(picture)); },
      [this](const std::string& reason) { ended(reason, false); });
  *shown_ = {share_, *stream};
}

void WaylandScreen::stop() {
  {
    std::lock_guard guard(endLock_);
    endTold_ = true;
  }
  stream_.reset();
}

void WaylandScreen::ended(const std::string& reason, bool closed) {
  {
    std::lock_guard guard(endLock_);
    if (endTold_) return;
    endTold_ = true;
  }
  if (closed && onSharingEnded) return onSharingEnded(reason);
  if (onStopped) onStopped(reason);
}

}  // namespace plimo
