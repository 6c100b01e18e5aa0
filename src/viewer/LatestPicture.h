#pragma once
// A view without a window: it keeps the latest picture the session shows
// (a headless helper, tests, benches) and tells `onShown` of each. Tiles are
// read from the session's canvas, which it does not hold.
//
// Main thread only.

#include <functional>
#include <optional>

#include "viewer/ScreenDisplay.h"

namespace plimo {

class LatestPicture final : public ScreenDisplay {
 public:
  void show(const TileCanvas::Image& image) override {
    tiles = image;
    video.reset();
    ++shown;
    if (onShown) onShown();
  }
  void show(PictureRef picture, int width, int height) override {
    video = picture;
    videoWidth = width;
    videoHeight = height;
    tiles.reset();
    ++shown;
    if (onShown) onShown();
  }

  // The visible pixel (x, y) of the latest picture as 0xRRGGBB; nothing
  // without a picture or outside it.
  std::optional<uint32_t> pixel(int x, int y) const {
    const uint8_t* p = nullptr;
    const auto canvas = tiles ? tiles->pixels.lock() : nullptr;
    if (canvas && x >= 0 && y >= 0 && x < tiles->width && y < tiles->height)
      p = canvas.get() + (size_t(y) * size_t(tiles->width) + size_t(x)) * 4;
    if (video && x >= 0 && y >= 0 && x < videoWidth && y < videoHeight) p = video->row(y) + size_t(x) * 4;
    if (!p) return std::nullopt;
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  }

  std::optional<TileCanvas::Image> tiles;  // the latest, when it came as tiles
  PictureRef video;                        // the latest, when it came as video
  int videoWidth = 0, videoHeight = 0;
  int shown = 0;
  std::function<void()> onShown;
};

}  // namespace plimo
