#pragma once
// Lossless picture updates (the format is protocol/TileFormat.h): the screen
// is cut into 64 x 64 tiles, each tile is compared with the copy the viewer
// already has, and at most 64 changed tiles go out per update as 24-bit
// pixels in one zlib stream. Tiles are numbered row by row; the right column
// and bottom row may be narrower or lower than 64.
//
// A full refresh (new screen size, or `full`) is a sweep: every tile is sent
// whether changed or not, 64 per update, until the last one has gone.
//
// Owner: the host session; one thread at a time.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "core/Bytes.h"
#include "platform/Picture.h"

namespace plimo {

class TileEncoder {
 public:
  // The pixels of a picture as the encoder reads them: 32-bit blue, green,
  // red, alpha; rows top to bottom, `bytesPerRow` apart (rows may be padded).
  // A null `base` stands for a picture whose pixels cannot be read.
  struct PixelView {
    const uint8_t* base = nullptr;
    int width = 0;
    int height = 0;
    size_t bytesPerRow = 0;
  };

  // The compressed update for this picture, or nothing when no tile is to be
  // sent (or the picture cannot be read, or its size is outside the format's).
  // `full` starts a complete refresh with this update.
  std::optional<Bytes> update(const PixelView& picture, bool full);
  // The same for a captured picture; one whose pixel store does not hold its
  // rows cannot be read.
  std::optional<Bytes> update(const Picture& picture, bool full);

  TileEncoder();
  ~TileEncoder();
  TileEncoder(const TileEncoder&) = delete;
  TileEncoder& operator=(const TileEncoder&) = delete;

  int width() const { return width_; }
  int height() const { return height_; }
  // A sweep is in progress, continuing at tile `sweepIndex()`.
  bool sweeping() const { return forceAll_; }
  int sweepIndex() const { return sweep_; }
  // Tiles of the last picture may still be due: a sweep is in progress, the
  // last update stopped at its 64 tiles with more of the screen unread, or a
  // sweep over several updates just ended (the screen may have changed
  // behind it).
  bool more() const { return forceAll_ || toCompare_; }

 private:
  bool tileChanged(const PixelView& picture, int x0, int y0, int tw, int th) const;
  bool bandChanged(const PixelView& picture, int y0, int th) const;
  void emitTile(const PixelView& picture, int x0, int y0, int tw, int th);
  Bytes compress();

  // The screen as last sent: width x height pixels of 4 bytes, no padding.
  Bytes previous_;
  int width_ = 0;
  int height_ = 0;
  bool forceAll_ = false;
  bool toCompare_ = false;
  int sweep_ = 0;
  // The update being built, its DEFLATE data and the compressor's work
  // space; kept between calls to reuse their memory.
  Bytes out_;
  Bytes deflated_;
  Bytes levelBuffer_;
};

}  // namespace plimo
