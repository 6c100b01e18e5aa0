#pragma once
// The viewer's copy of the host's screen when pictures come as tile updates
// (protocol/TileFormat.h). Each update is written into the canvas as it is
// read; `image()` hands out the whole screen.
//
// Pixels are 4 bytes each: blue, green, red, 255, rows top to bottom with no
// padding, so on a little-endian machine the store is a QImage of
// Format_RGB32 (or ARGB32) as it stands. Pixels no update has written yet are
// all zero (black).
//
// Owner: the viewer session; main thread only.

#include <cstdint>
#include <memory>
#include <optional>

#include "core/Bytes.h"
#include "core/Failure.h"

namespace plimo {

class TileCanvas {
 public:
  // A picture of the canvas at one moment; later updates never change it.
  struct Image {
    int width = 0;
    int height = 0;
    std::shared_ptr<const Bytes> pixels;  // width x height x 4, as the canvas
  };

  // Decodes one screen update and writes it into the canvas. Throws
  // Failure::Kind::badUpdate with the text bad("Screen update too short"),
  // bad("Screen update cut short") or bad("Bad screen size"), or the
  // inflater's own (Failure::Kind::corrupt) when the stream does not inflate.
  // Tiles are written in order as they are read: when one fails, those before
  // it stay written.
  void apply(ByteView update);

  // The start of an update (screen size and tile count), read by inflating
  // only its first bytes. Nothing when the stream ends or breaks before them.
  struct Header {
    int width = 0;
    int height = 0;
    int count = 0;
  };
  static std::optional<Header> peekHeader(ByteView update);

  // Nothing while the canvas is 0 x 0.
  std::optional<Image> image() const;

  int width() const { return width_; }
  int height() const { return height_; }
  ByteView pixels() const { return pixels_; }

 private:
  Bytes inflate(ByteView update) const;

  int width_ = 0;
  int height_ = 0;
  Bytes pixels_;
};

}  // namespace plimo
