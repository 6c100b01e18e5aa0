#pragma once
// A view without a window: it keeps the latest picture the session shows
// (a headless helper, tests, benches) and tells `setOnShown`'s callback of each. Tiles are
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
    tiles_ = image;
    video_.reset();
    ++shown_;
    if (onShown_) onShown_();
  }
  void show(PictureRef picture, int width, int height) override {
    video_ = picture;
    videoWidth_ = width;
    videoHeight_ = height;
    tiles_.reset();
    ++shown_;
    if (onShown_) onShown_();
  }

  // The visible pixel (x, y) of the latest picture as 0xRRGGBB; nothing
  // without a picture or outside it.
  std::optional<uint32_t> pixel(int x, int y) const {
    const uint8_t* p = nullptr;
    const auto canvas = tiles_ ? tiles_->pixels.lock() : nullptr;
    if (canvas && x >= 0 && y >= 0 && x < tiles_->width && y < tiles_->height)
      p = canvas.get() + (size_t(y) * size_t(tiles_->width) + size_t(x)) * 4;
    if (video_ && x >= 0 && y >= 0 && x < videoWidth_ && y < videoHeight_) p = video_->row(y) + size_t(x) * 4;
    if (!p) return std::nullopt;
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  }

  // The latest picture: as tiles, or as video of its visible size.
  const std::optional<TileCanvas::Image>& tiles() const { return tiles_; }
  const PictureRef& video() const { return video_; }
  int videoWidth() const { return videoWidth_; }
  int videoHeight() const { return videoHeight_; }
  // Pictures shown so far.
  int shown() const { return shown_; }
  void setOnShown(std::function<void()> onShown) { onShown_ = std::move(onShown); }

 private:
  std::optional<TileCanvas::Image> tiles_;
  PictureRef video_;
  int videoWidth_ = 0, videoHeight_ = 0;
  int shown_ = 0;
  std::function<void()> onShown_;
};

}  // namespace plimo
