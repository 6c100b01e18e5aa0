#pragma once
// Screen pixels (32-bit blue, green, red, x) into planar 4:2:0 for a video
// encoder: BT.601 colours in video range, chroma from the mean of each 2 × 2
// block, as the decoders' conversion back expects. Several times faster than
// the general scaler for a 1080p picture, which scrolling pays for every
// picture.
//
// Rows are converted independently in pairs, so a band of rows starting at
// an even row converts alike whenever it is converted. An odd last row or
// column takes its chroma from itself alone.

#include <cstddef>
#include <cstdint>

namespace plimo {

struct Yuv420Planes {
  uint8_t* y;
  uint8_t* u;
  uint8_t* v;
  ptrdiff_t yStride, uStride, vStride;
};

// `rows` rows of `width` pixels from `bgra` (`stride` bytes apart) into the
// planes, whose first row is the band's first (`out.u` and `out.v` at the
// band's first row divided by two).
void bgraToYuv420(const uint8_t* bgra, ptrdiff_t stride, int width, int rows, const Yuv420Planes& out);

}  // namespace plimo
