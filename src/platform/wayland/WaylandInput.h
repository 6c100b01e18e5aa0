#pragma once
// Plays input into a Wayland desktop through the share the screen holds:
// absolute motion in the shown stream's pixels, buttons as evdev codes, the
// wheel buttons (4 to 7) as discrete axis steps, keysyms as they are (the
// desktop finds their keys). Input before the screen is shared goes nowhere.
//
// Owner: the host session; its thread only.

#include <memory>

#include "platform/InputSink.h"
#include "platform/wayland/WaylandScreen.h"

namespace plimo {

class WaylandInput final : public InputSink {
 public:
  explicit WaylandInput(std::shared_ptr<WaylandShown> shown) : shown_(std::move(shown)) {}

  void moveTo(int x, int y) override;
  void button(int button, bool down) override;
  void key(uint32_t keysym, bool down) override;

  // The evdev code of an X button (BTN_LEFT for 1), 0 for the wheel and
  // buttons evdev has none for.
  static int evdevButton(int button);

 private:
  std::shared_ptr<WaylandShown> shown_;
};

}  // namespace plimo
