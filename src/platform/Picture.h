#pragma once
// A captured or synthetic screen picture: 4 bytes a pixel in memory order
// blue, green, red, alpha (alpha 255), rows `stride` bytes apart.

#include <cstdint>
#include <memory>
#include <vector>

namespace plimo {

struct Picture {
  int width = 0;
  int height = 0;
  int stride = 0;  // bytes from one row to the next, at least width × 4
  std::vector<uint8_t> pixels;

  Picture() = default;
  Picture(int w, int h) : width(w), height(h), stride(w * 4), pixels(size_t(stride) * size_t(h)) {}

  uint8_t* row(int y) { return pixels.data() + size_t(y) * size_t(stride); }
  const uint8_t* row(int y) const { return pixels.data() + size_t(y) * size_t(stride); }
};

// Pictures are shared, never changed once published: the capture side makes a
// new one (or reuses one nobody else holds) for every grab.
using PictureRef = std::shared_ptr<const Picture>;

}  // namespace plimo
