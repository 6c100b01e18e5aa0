#include "platform/Yuv420.h"

namespace plimo {

namespace {

// BT.601 video range in 8-bit fixed point: Y = 16 + (66 R + 129 G + 25 B) / 256.
inline uint8_t luma(int b, int g, int r) { return uint8_t(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16); }

// From sums of `n` pixels (n = 1, 2 or 4; `shift` its log2 + 8).
inline uint8_t blueDiff(int b, int g, int r, int shift) {
  return uint8_t(((-38 * r - 74 * g + 112 * b + (1 << (shift - 1))) >> shift) + 128);
}
inline uint8_t redDiff(int b, int g, int r, int shift) {
  return uint8_t(((112 * r - 94 * g - 18 * b + (1 << (shift - 1))) >> shift) + 128);
}

void lumaRow(const uint8_t* from, int width, uint8_t* to) {
  for (int x = 0; x < width; ++x) to[x] = luma(from[4 * x], from[4 * x + 1], from[4 * x + 2]);
}

// Chroma of one row pair (`below` null for an odd last row).
void chromaRow(const uint8_t* above, const uint8_t* below, int width, uint8_t* u, uint8_t* v) {
  const int pairs = width / 2;
  const int rowShift = below ? 1 : 0;
  for (int x = 0; x < pairs; ++x) {
    const uint8_t* a = above + 8 * x;
    int b = a[0] + a[4], g = a[1] + a[5], r = a[2] + a[6];
    if (below) {
      const uint8_t* c = below + 8 * x;
      b += c[0] + c[4], g += c[1] + c[5], r += c[2] + c[6];
    }
    u[x] = blueDiff(b, g, r, 9 + rowShift);
    v[x] = redDiff(b, g, r, 9 + rowShift);
  }
  if (width % 2 != 0) {
    const uint8_t* a = above + 4 * (width - 1);
    int b = a[0], g = a[1], r = a[2];
    if (below) {
      const uint8_t* c = below + 4 * (width - 1);
      b += c[0], g += c[1], r += c[2];
    }
    u[pairs] = blueDiff(b, g, r, 8 + rowShift);
    v[pairs] = redDiff(b, g, r, 8 + rowShift);
  }
}

}  // namespace

void bgraToYuv420(const uint8_t* bgra, ptrdiff_t stride, int width, int rows, const Yuv420Planes& out) {
  for (int y = 0; y < rows; y += 2) {
    const uint8_t* above = bgra + y * stride;
    const uint8_t* below = y + 1 < rows ? above + stride : nullptr;
    lumaRow(above, width, out.y + y * out.yStride);
    if (below) lumaRow(below, width, out.y + (y + 1) * out.yStride);
    chromaRow(above, below, width, out.u + (y / 2) * out.uStride, out.v + (y / 2) * out.vStride);
  }
}

}  // namespace plimo
