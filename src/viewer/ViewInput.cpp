#include "viewer/ViewInput.h"

#include <cmath>

#include "protocol/wire/InputEvent.h"
#include "protocol/wire/KeyMap.h"

namespace plimo {

namespace {
constexpr uint32_t kSuperL = 0xffeb, kSuperR = 0xffec;
constexpr int32_t kCtrl = 0x11, kLeftWindows = 0x5B;
// A line-based notch is 120; a precise device's point a thirtieth of that.
constexpr double kPerNotch = 120, kPerPoint = 4;
}  // namespace

void ViewInput::send(uint8_t kind, RemotePoint at, int32_t data) {
  if (remote_ && remote_->hasControl()) remote_->sendInput(kind, at.x, at.y, data);
}

void ViewInput::move(RemotePoint at) {
  if (lastMove_ == at) return;
  lastMove_ = at;
  send(InputEvent::move, at, 0);
}

void ViewInput::button(Button b, bool down, RemotePoint at) {
  if (down) {
    move(at);
    downButtons_.insert(b);
    send(InputEvent::buttonDown, at, b);
  } else {
    downButtons_.erase(b);
    send(InputEvent::buttonUp, at, b);
  }
}

void ViewInput::wheel(double lines, double points, RemotePoint at) {
  double amount = (points != 0 ? points * kPerPoint : lines * kPerNotch) + wheelRest_;
  double whole = std::trunc(amount);
  wheelRest_ = amount - whole;
  if (whole != 0) send(InputEvent::wheel, at, int32_t(whole));
}

std::optional<int32_t> ViewInput::codeFor(uint32_t keysym) const {
  if (keysym == kSuperL || keysym == kSuperR) return superAsControl_ ? kCtrl : kLeftWindows;
  return KeyMap::virtualKey(keysym);
}

void ViewInput::key(uint32_t keysym, bool down) {
  auto code = codeFor(keysym);
  if (!code) return;
  if (down) downKeys_.insert(*code);
  else downKeys_.erase(*code);
  send(down ? InputEvent::keyDown : InputEvent::keyUp, keyPoint(), *code);
}

void ViewInput::combo(std::span<const int32_t> codes) {
  for (int32_t code : codes) send(InputEvent::keyDown, keyPoint(), code);
  for (auto it = codes.rbegin(); it != codes.rend(); ++it) send(InputEvent::keyUp, keyPoint(), *it);
}

void ViewInput::releaseAll() {
  for (int32_t code : downKeys_) send(InputEvent::keyUp, keyPoint(), code);
  downKeys_.clear();
  if (lastMove_)
    for (int32_t b : downButtons_) send(InputEvent::buttonUp, *lastMove_, b);
  downButtons_.clear();
}

}  // namespace plimo
