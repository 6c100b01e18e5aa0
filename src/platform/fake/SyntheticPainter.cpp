#include "platform/fake/SyntheticPainter.h"

#include <algorithm>
#include <cstring>

namespace plimo {

namespace {

void store(uint8_t *at, uint32_t rgb) {
  at[0] = uint8_t(rgb);
  at[1] = uint8_t(rgb >> 8);
  at[2] = uint8_t(rgb >> 16);
  at[3] = 255;
}

uint32_t blend(uint32_t a, uint32_t b) { return (((a & 0xFEFEFE) >> 1) + ((b & 0xFEFEFE) >> 1)) & 0xFFFFFF; }

// Eight pixels of one row of character c: six stroke columns in the middle,
// rows 3..13 inked, so letters sit on a base line with ascender room above.
uint8_t glyphBits(char c, int row) {
  if (c == ' ' || row < 3 || row > 13) return 0;
  const uint32_t shape = syntheticMix(uint32_t(uint8_t(c)) * 0x9E3779B9u);
  const uint32_t stems = shape & 0x7E;               // the letter's vertical strokes
  const bool bar = (shape >> (8 + (row % 11))) & 1;  // its horizontal strokes
  return uint8_t(bar ? 0x7E : stems);
}

}  // namespace

uint32_t syntheticMix(uint32_t v) {
  v ^= v >> 16;
  v *= 0x7FEB352Du;
  v ^= v >> 15;
  v *= 0x846CA68Bu;
  v ^= v >> 16;
  return v;
}

void SyntheticPainter::put(int x, int y, uint32_t rgb) {
  store(pixels_ + (size_t(y) * size_t(width_) + size_t(x)) * 4, rgb);
}

void SyntheticPainter::fill(Rect r, uint32_t colour) {
  const int x0 = std::max(r.x, 0), y0 = std::max(r.y, 0);
  const int x1 = std::min(r.x + r.w, width_), y1 = std::min(r.y + r.h, height_);
  if (x0 >= x1 || y0 >= y1) return;
  uint8_t pattern[4];
  store(pattern, colour);
  for (int y = y0; y < y1; ++y) {
    uint8_t *at = pixels_ + (size_t(y) * size_t(width_) + size_t(x0)) * 4;
    for (int x = x0; x < x1; ++x, at += 4) std::memcpy(at, pattern, 4);
  }
}

void SyntheticPainter::text(int x, int y, std::string_view line, uint32_t ink, uint32_t paper, Rect clip) {
  for (int row = 0; row < glyphHeight; ++row)
    for (size_t i = 0; i < line.size(); ++i) glyphRow(x + int(i) * cellWidth, y + row, line[i], row, ink, paper, clip);
}

// With a half-tone beside each stroke, as font smoothing would leave it.
void SyntheticPainter::glyphRow(int x, int y, char c, int row, uint32_t ink, uint32_t paper, Rect clip) {
  if (y < std::max(clip.y, 0) || y >= std::min(clip.y + clip.h, height_)) return;
  const unsigned bits = glyphBits(c, row);
  if (bits == 0) return;  // the cell's paper is already there
  const uint32_t half = blend(ink, paper);
  uint8_t *rowStart = pixels_ + size_t(y) * size_t(width_) * 4;
  for (int b = 0; b < cellWidth; ++b) {
    const int px = x + b;
    if (px < std::max(clip.x, 0) || px >= std::min(clip.x + clip.w, width_)) continue;
    const unsigned mask = 0x80u >> b;
    const bool on = bits & mask;
    const bool edge = !on && (bits & ((mask << 1) | (mask >> 1)));
    if (on || edge) store(rowStart + size_t(px) * 4, on ? ink : half);
  }
}

}  // namespace plimo
