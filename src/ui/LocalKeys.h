#pragma once
// Which key of this keyboard a key event is, as an X keysym: the symbol the
// key gives without modifiers, so that Shift+1 is the 1 key (not "!"),
// Shift+Tab the Tab key, and a key's release names the same key as its
// press whatever was let go in between. Keypad keys give their digits and
// decimal point, as the keypad keys they are, Num Lock on or off.
//
// Main thread only (it reads Qt's X connection).

#include <cstdint>

class QKeyEvent;

namespace plimo {

// Without an X display (Qt's offscreen platform, a synthetic event) the
// event's own keysym.
uint32_t localKeysym(const QKeyEvent& event);

}  // namespace plimo
