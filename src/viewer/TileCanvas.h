#pragma once
// The viewer's copy of the host's screen when pictures come as tile updates
// (protocol/TileFormat.h). Each update is written into the canvas as it is
// read; `image()` lends the view the canvas itself, never a copy.
//
// Pixels are 4 bytes each: blue, green, red, 255, rows top to bottom with no
// padding, so on a little-endian machine the store is a QImage of
// Format_RGB32 (or ARGB32) as it stands. Pixels no update has written yet are
// all zero (black).
//
// One store at a time: a new screen size lets the old store go before it
// takes the new one, and the new one comes zeroed from the system, so a
// claimed screen costs memory only where tiles are written.
//
// Owner: the viewer session; main thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "core/Bytes.h"
#include "core/Failure.h"

namespace plimo {

class TileCanvas {
 public:
  // The canvas as it is now, for the view to read while it paints. `pixels`
  // locks only while the canvas keeps this store (its size); a view locks it
  // for a paint and keeps nothing, so it never holds a second screen and never
  // reads a store that was let go.
  struct Area {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const Area&) const = default;
  };
  struct Image {
    int width = 0;
    int height = 0;
    std::weak_ptr<const uint8_t[]> pixels;  // width x height x 4, as the canvas
    // What the last update wrote (all of it after a new size), for the view
    // to paint again.
    Area changed;
  };

  // Asked before a new screen size takes a new store; false refuses the
  // update with bad("Screen size changed too often"), the canvas unchanged.
  using MayResize = std::function<bool()>;

  // Decodes one screen update and writes it into the canvas. Throws
  // Failure::Kind::badUpdate with the text bad("Screen update too short"),
  // bad("Screen update cut short"), bad("Bad screen size") or the refusal
  // above, or the inflater's own (Failure::Kind::corrupt) when the stream
  // does not inflate. Tiles are written in order as they are read: when one
  // fails, those before it stay written.
  void apply(ByteView update, const MayResize& mayResize = {});

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
  ByteView pixels() const { return {pixels_.get(), size_t(width_) * size_t(height_) * 4}; }

 private:
  Bytes inflate(ByteView update) const;
  void resize(int width, int height);

  int width_ = 0;
  int height_ = 0;
  std::shared_ptr<uint8_t[]> pixels_;
  Area changed_;
  bool applied_ = true;  // the last update was applied whole
};

}  // namespace plimo
