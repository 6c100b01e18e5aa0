#pragma once
// One mouse or keyboard event of the helper, as it travels to the host.
//
// Wire form, 13 bytes little-endian: u32 seq, u8 kind, i16 x, i16 y, i32 data.
// Input packet (viewer → host): 0x84, n (1..90), n events. Acknowledgement
// (host → viewer): 0x85, u32 sequence of the last event applied.

#include <cstddef>
#include <cstdint>

#include "core/Bytes.h"

namespace plimo {

struct InputEvent {
  // Kinds; any other kind is acknowledged and has no effect.
  enum Kind : uint8_t {
    move = 1,        // pointer to (x, y); data unused
    buttonDown = 2,  // data: 0 left, 1 right, 2 middle
    buttonUp = 3,
    wheel = 4,       // data: vertical amount, 40 to a line (120 a notch)
    keyDown = 5,     // data: Windows virtual-key code in the low 16 bits
    keyUp = 6,
  };

  static constexpr size_t kSize = 13;

  uint32_t seq = 0;  // first event of a session is 1
  uint8_t kind = 0;
  int16_t x = 0;     // pixels of the remote picture
  int16_t y = 0;
  int32_t data = 0;

  void appendTo(Bytes& out) const;
  // The caller has checked that kSize bytes are there.
  static InputEvent read(ByteView data, size_t pos);
  // Positions outside the 16-bit range are sent as its nearest end.
  static int16_t clampCoordinate(int value);

  bool operator==(const InputEvent&) const = default;
};

}  // namespace plimo
