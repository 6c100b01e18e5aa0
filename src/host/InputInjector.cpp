#include "host/InputInjector.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "protocol/wire/KeyMap.h"

namespace plimo {

namespace {

// Wheel units to one X wheel click. A partner's wheel gives 120 a notch (three
// lines), and X toolkits scroll about three lines for one click: at 40 a
// click every notch scrolled as three.
constexpr double kWheelUnitsPerStep = 120;
// Steps played for one wheel event at most: a real wheel gives a few per
// event, and a bogus amount (up to 2^31) must not freeze the host for minutes.
constexpr long kMaxWheelSteps = 100;

constexpr int kButtonLeft = 1, kButtonMiddle = 2, kButtonRight = 3, kWheelUp = 4, kWheelDown = 5;

constexpr uint32_t kShiftL = 0xffe1, kControlL = 0xffe3, kAltL = 0xffe9, kSuperL = 0xffeb;

// The X button for a wire button number; none for numbers with no meaning,
// which a partner could otherwise use to press buttons this side never
// releases.
std::optional<int> xButton(int32_t b) {
  switch (b) {
    case 0: return kButtonLeft;
    case 1: return kButtonRight;
    case 2: return kButtonMiddle;
    default: return std::nullopt;
  }
}

}  // namespace

InputInjector::InputInjector(InputSink& sink, bool ctrlAsCommand)
    : controlAsCommand_(ctrlAsCommand), sink_(sink) {}

InputInjector::Point InputInjector::point(int x, int y) const {
  double sx = pictureSize_.width > 0 ? area_.width / pictureSize_.width : 1;
  double sy = pictureSize_.height > 0 ? area_.height / pictureSize_.height : 1;
  // Never outside the shared screen: a partner must not reach other screens
  // (or hot corners beyond this one) by sending positions past the picture.
  auto inside = [](double v, double from, double length) {
    return length > 0 ? int(std::clamp(std::floor(v), from, from + length - 1)) : int(std::floor(v));
  };
  return {inside(area_.x + x * sx, area_.x, area_.width), inside(area_.y + y * sy, area_.y, area_.height)};
}

void InputInjector::apply(uint8_t kind, int16_t x, int16_t y, int32_t data) {
  switch (kind) {
    case InputEvent::move: {
      Point at = point(x, y);
      sink_.moveTo(at.x, at.y);
      break;
    }
    case InputEvent::buttonDown:
    case InputEvent::buttonUp: button(data, kind == InputEvent::buttonDown, point(x, y)); break;
    case InputEvent::wheel: scroll(data, point(x, y)); break;
    case InputEvent::keyDown:
    case InputEvent::keyUp: key(data & 0xFFFF, kind == InputEvent::keyDown); break;
    default: break;
  }
}

void InputInjector::button(int32_t b, bool down, Point at) {
  auto x = xButton(b);
  if (!x) return;
  // X presses at the pointer, so the pointer goes there first.
  sink_.moveTo(at.x, at.y);
  sink_.button(*x, down);
  if (down) {
    buttonsDown_.insert(b);
  } else {
    buttonsDown_.erase(b);
  }
}

void InputInjector::scroll(int32_t amount, Point at) {
  double r = amount / kWheelUnitsPerStep + wheelRest_;
  double n = std::trunc(r);
  wheelRest_ = r - n;
  if (n == 0) return;
  sink_.moveTo(at.x, at.y);
  int wheelButton = n > 0 ? kWheelUp : kWheelDown;
  long steps = std::min(long(std::fabs(n)), kMaxWheelSteps);
  for (long i = 0; i < steps; ++i) {
    sink_.button(wheelButton, true);
    sink_.button(wheelButton, false);
  }
}

std::optional<uint32_t> InputInjector::modifier(int32_t vk) {
  switch (vk) {
    case 0x10: case 0xA0: case 0xA1: return kShiftL;
    case 0x12: case 0xA4: case 0xA5: return kAltL;
    case 0x11: case 0xA2: case 0xA3: return kControlL;
    case 0x5B: case 0x5C: return kSuperL;
    default: return std::nullopt;
  }
}

void InputInjector::key(int32_t vk, bool down) {
  if (auto mod = modifier(vk)) {
    if (down) {
      modifiersDown_.insert(*mod);
    } else {
      modifiersDown_.erase(*mod);
    }
    sink_.key(*mod, down);
    return;
  }
  auto sym = KeyMap::keysym(vk);
  if (!sym) return;
  // Held by the keysym played, as the sink presses it: codes that give the
  // same keysym hold one key.
  if (down) {
    keysDown_.insert(*sym);
  } else {
    keysDown_.erase(*sym);
  }
  sink_.key(*sym, down);
}

void InputInjector::releaseAll() {
  for (int32_t b : buttonsDown_) sink_.button(*xButton(b), false);
  buttonsDown_.clear();
  for (uint32_t sym : keysDown_) sink_.key(sym, false);
  keysDown_.clear();
  for (uint32_t mod : modifiersDown_) sink_.key(mod, false);
  modifiersDown_.clear();
}

}  // namespace plimo
