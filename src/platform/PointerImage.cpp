#include "platform/PointerImage.h"

#include <algorithm>
#include <cstring>

namespace plimo {

void drawPointer(Picture& picture, const PointerImage& pointer, int x, int y) {
  int originX = x - pointer.xhot;
  int originY = y - pointer.yhot;
  for (int cy = 0; cy < pointer.height; ++cy) {
    int py = originY + cy;
    if (py < 0 || py >= picture.height) continue;
    uint8_t* row = picture.row(py);
    for (int cx = 0; cx < pointer.width; ++cx) {
      int px = originX + cx;
      if (px < 0 || px >= picture.width) continue;
      uint32_t c = pointer.argb[size_t(cy) * size_t(pointer.width) + size_t(cx)];
      uint32_t alpha = c >> 24;
      if (alpha == 0) continue;
      uint8_t* p = row + px * 4;
      // Premultiplied: out = pointer + screen × (1 − alpha).
      for (int channel = 0; channel < 3; ++channel) {
        uint32_t src = (c >> (8 * channel)) & 0xff;
        p[channel] = uint8_t(std::min<uint32_t>(255, src + (p[channel] * (255 - alpha) + 127) / 255));
      }
    }
  }
}

void copyOpaque(uint8_t* to, const uint8_t* from, int pixels) {
  for (int i = 0; i < pixels; ++i) {
    uint32_t v;
    std::memcpy(&v, from + i * 4, 4);
    v |= 0xff000000u;
    std::memcpy(to + i * 4, &v, 4);
  }
}

}  // namespace plimo
