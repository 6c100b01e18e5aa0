#pragma once
// Plays the helper's mouse and keyboard into this PC through an input sink.
//
// Events arrive as the input channel hands them over (an InputEvent's kind,
// x, y and data); positions are pixels of the picture the helper sees and are
// mapped onto the captured screen; keys are Windows virtual-key codes. Every
// button and key it holds down is remembered, so that drags and chords work
// across events and `releaseAll` (and destruction) can let go of them all:
// nothing the helper pressed stays down on this PC once the helper is gone.
//
// Owner: the host session; its thread only. The sink must outlive the injector.

#include <cstdint>
#include <optional>
#include <set>

#include "platform/Geometry.h"
#include "platform/InputSink.h"
#include "protocol/wire/InputEvent.h"

namespace plimo {

class InputInjector {
 public:
  explicit InputInjector(InputSink& sink, bool controlAsCommand = false);
  ~InputInjector() { releaseAll(); }
  InputInjector(const InputInjector&) = delete;
  InputInjector& operator=(const InputInjector&) = delete;

  // One event; kinds InputEvent does not name do nothing.
  void apply(uint8_t kind, int16_t x, int16_t y, int32_t data);

  struct Point {
    int x = 0;
    int y = 0;
    bool operator==(const Point&) const = default;
  };
  // Picture pixels → root-window coordinates of the captured screen.
  Point point(int x, int y) const;

  void key(int32_t vk, bool down);
  // Lets go of everything this injector holds down (pause, close): buttons,
  // then keys, then modifiers, as a person lets go of a chord.
  void releaseAll();

  // The modifier keysym a code stands for: Shift, Alt, Control or Super, the
  // left-hand key for either hand.
  static std::optional<uint32_t> modifier(int32_t vk);

  // The captured screen: its bounds in root-window coordinates, and the
  // size of its pictures in pixels.
  void setScreen(Rect area) { area_ = area; }
  void setPictureSize(Size size) { pictureSize_ = size; }
  // Kept for the setting's sake: a helper on a Mac swaps Ctrl and ⌘ because
  // its shortcuts use ⌘; shortcuts here use Ctrl, as on the helper's side, so
  // Ctrl stays Ctrl and the Windows key stays Super either way.
  bool controlAsCommand() const { return controlAsCommand_; }

  const std::set<int32_t>& buttonsDown() const { return buttonsDown_; }
  const std::set<uint32_t>& modifiersDown() const { return modifiersDown_; }
  double wheelRest() const { return wheelRest_; }

 private:
  void button(int32_t b, bool down, Point at);
  void scroll(int32_t amount, Point at);

  const bool controlAsCommand_;
  InputSink& sink_;
  Rect area_;
  Size pictureSize_;
  std::set<int32_t> buttonsDown_;    // wire button numbers
  std::set<uint32_t> modifiersDown_; // keysyms
  std::set<uint32_t> keysDown_;      // keysyms played, other than the modifiers
  double wheelRest_ = 0;             // fractional wheel steps not yet played
};

}  // namespace plimo
