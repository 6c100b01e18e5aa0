#include "platform/Yuv420.h"

#include <cstring>

// GCC's -O2 leaves these loops scalar (its cheapest vector cost model): four
// times slower.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("tree-vectorize", "vect-cost-model=dynamic")
#endif

namespace plimo {

namespace {

// From sums of `n` pixels (n = 1, 2 or 4; `shift` its log2 + 8).
inline uint8_t blueDiff(int b, int g, int r, int shift) {
  return uint8_t(((-38 * r - 74 * g + 112 * b + (1 << (shift - 1))) >> shift) + 128);
}
inline uint8_t redDiff(int b, int g, int r, int shift) {
  return uint8_t(((112 * r - 94 * g - 18 * b + (1 << (shift - 1))) >> shift) + 128);
}

// Whole pixels loaded as words, so that the compiler turns the loops into
// vector code.
inline uint32_t pixelAt(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// BT.601 video range in 8-bit fixed point: Y = 16 + (66 R + 129 G + 25 B) / 256,
// in 16-bit sums (the largest, 255 * 220 + 128, fits).
[[gnu::always_inline]] inline void lumaRow(const uint8_t* from, int width, uint8_t* to) {
  for (int x = 0; x < width; ++x) {
    const uint32_t p = pixelAt(from + 4 * x);
    const uint16_t b = uint16_t(p & 0xFF), g = uint16_t(p >> 8 & 0xFF), r = uint16_t(p >> 16 & 0xFF);
    const uint16_t sum = uint16_t(uint16_t(66 * r) + uint16_t(129 * g) + uint16_t(25 * b) + 128);
    to[x] = uint8_t((sum >> 8) + 16);
  }
}

// Chroma of one row pair (`below` null for an odd last row).
[[gnu::always_inline]] inline void chromaRow(const uint8_t* above, const uint8_t* below, int width, uint8_t* u,
                                             uint8_t* v) {
  const int pairs = width / 2;
  const int rowShift = below ? 1 : 0;
  if (below) {
    for (int x = 0; x < pairs; ++x) {
      const uint32_t p0 = pixelAt(above + 8 * x), p1 = pixelAt(above + 8 * x + 4);
      const uint32_t p2 = pixelAt(below + 8 * x), p3 = pixelAt(below + 8 * x + 4);
      // Bytes side by side summed in 16-bit lanes: blue and red in one word,
      // green in the other, no lane overflowing (4 × 255).
      const uint32_t br = (p0 & 0xFF00FF) + (p1 & 0xFF00FF) + (p2 & 0xFF00FF) + (p3 & 0xFF00FF);
      const uint32_t gs = (p0 >> 8 & 0xFF) + (p1 >> 8 & 0xFF) + (p2 >> 8 & 0xFF) + (p3 >> 8 & 0xFF);
      const int b = int(br & 0xFFFF), g = int(gs), r = int(br >> 16);
      u[x] = blueDiff(b, g, r, 10);
      v[x] = redDiff(b, g, r, 10);
    }
  } else {
    for (int x = 0; x < pairs; ++x) {
      const uint8_t* a = above + 8 * x;
      const int b = a[0] + a[4], g = a[1] + a[5], r = a[2] + a[6];
      u[x] = blueDiff(b, g, r, 9);
      v[x] = redDiff(b, g, r, 9);
    }
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

// Twice as fast again where the processor has AVX2 (chosen when the program
// loads).
__attribute__((target_clones("avx2", "default"))) void bgraToYuv420(const uint8_t* bgra, ptrdiff_t stride,
                                                                      int width, int rows, const Yuv420Planes& out) {
  for (int y = 0; y < rows; y += 2) {
    const uint8_t* above = bgra + y * stride;
    const uint8_t* below = y + 1 < rows ? above + stride : nullptr;
    lumaRow(above, width, out.y + y * out.yStride);
    if (below) lumaRow(below, width, out.y + (y + 1) * out.yStride);
    chromaRow(above, below, width, out.u + (y / 2) * out.uStride, out.v + (y / 2) * out.vStride);
  }
}

}  // namespace plimo
