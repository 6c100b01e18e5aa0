#pragma once
// Where injected mouse and keyboard input goes: the system's input as if it
// came from real devices. Used from one thread (the session's).
//
// Keys are X keysyms (plain numbers; the platform-free key table lists them),
// buttons are X button numbers: 1 left, 2 middle, 3 right, 4 wheel up,
// 5 wheel down. Pointer positions are in root-window coordinates.

#include <cstdint>

namespace plimo {

class InputSink {
 public:
  virtual ~InputSink() = default;

  virtual void moveTo(int x, int y) = 0;
  // At the pointer's current position.
  virtual void button(int button, bool down) = 0;
  // Keys the keyboard has no place for are ignored.
  virtual void key(uint32_t keysym, bool down) = 0;
};

}  // namespace plimo
