#pragma once
// Plays the helper's mouse and keyboard into this PC through an input sink.
//
// Events arrive as the input channel hands them over (an InputEvent's kind,
// x, y and data); positions are pixels of the picture the helper sees and are
// mapped onto the captured screen; keys are Windows virtual-key codes. Held
// buttons and modifiers are remembered across events so that drags and chords
// work and `releaseAll` can let go of them.
//
// Owner: the host session; its thread only. The sink must outlive the injector.

#include <cstdint>
#include <optional>
#include <set>

#include "platform/Geometry.h"
#include "platform/InputSink.h"
#include "protocol/InputEvent.h"

namespace plimo {

class InputInjector {
 public:
  explicit InputInjector(InputSink& sink, bool controlAsCommand = false);

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
  // Lets go of every held button and modifier (pause, close). Other held keys
  // stay down.
  void releaseAll();

  // The modifier keysym a code stands for: Shift, Alt, Control or Super, the
  // left-hand key for either hand.
  static std::optional<uint32_t> modifier(int32_t vk);

  Rect area;         // bounds of the captured screen, root-window coordinates
  Size pictureSize;  // size of the captured picture in pixels
  // Kept for the setting's sake: a helper on a Mac swaps Ctrl and ⌘ because
  // its shortcuts use ⌘; shortcuts here use Ctrl, as on the helper's side, so
  // Ctrl stays Ctrl and the Windows key stays Super either way.
  bool controlAsCommand = false;

  const std::set<int32_t>& buttonsDown() const { return buttonsDown_; }
  const std::set<uint32_t>& modifiersDown() const { return modifiersDown_; }
  double wheelRest() const { return wheelRest_; }

 private:
  void button(int32_t b, bool down, Point at);
  void scroll(int32_t amount, Point at);

  InputSink& sink_;
  std::set<int32_t> buttonsDown_;    // wire button numbers
  std::set<uint32_t> modifiersDown_; // keysyms
  double wheelRest_ = 0;             // fractional wheel steps not yet played
};

}  // namespace plimo
