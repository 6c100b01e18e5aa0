#include "platform/wayland/WaylandInput.h"

#include <linux/input-event-codes.h>

namespace plimo {

int WaylandInput::evdevButton(int button) {
  switch (button) {
    case 1: return BTN_LEFT;
    case 2: return BTN_MIDDLE;
    case 3: return BTN_RIGHT;
    case 8: return BTN_SIDE;
    case 9: return BTN_EXTRA;
    default: return 0;
  }
}

void WaylandInput::moveTo(int x, int y) {
  if (!shown_->share) return;
  const Rect& b = shown_->stream.display.bounds;
  shown_->share->pointerMotion(shown_->stream, x - b.x, y - b.y);
}

void WaylandInput::button(int button, bool down) {
  if (!shown_->share) return;
  // X's wheel buttons: a press is one step (up and left are negative).
  if (button >= 4 && button <= 7) {
    if (down) shown_->share->pointerAxisDiscrete(button >= 6 ? 1 : 0, button % 2 == 0 ? -1 : 1);
    return;
  }
  if (int code = evdevButton(button)) shown_->share->pointerButton(code, down);
}

void WaylandInput::key(uint32_t keysym, bool down) {
  if (shown_->share) shown_->share->keysym(keysym, down);
}

}  // namespace plimo
