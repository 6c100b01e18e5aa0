#pragma once
// The mouse pointer as captures draw it into their pictures, whichever
// system gave its image (XFixes, a PipeWire stream's metadata).

#include <cstdint>
#include <vector>

#include "platform/Picture.h"

namespace plimo {

struct PointerImage {
  int width = 0, height = 0, xhot = 0, yhot = 0;
  std::vector<uint32_t> argb;  // premultiplied, width × height
};

// Draws `pointer` with its hot spot at (x, y) of `picture`, clipped.
void drawPointer(Picture& picture, const PointerImage& pointer, int x, int y);

// Copies one row of pad-carrying pixels, making every pixel opaque.
void copyOpaque(uint8_t* to, const uint8_t* from, int pixels);

}  // namespace plimo
