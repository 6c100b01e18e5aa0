#include "viewer/TileCanvas.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "protocol/wire/TileFormat.h"
#include "support/Zlib.h"

namespace plimo {

using namespace TileFormat;

namespace {

Failure bad(const char* why) { return Failure(Failure::Kind::badUpdate, std::string("bad(\"") + why + "\")"); }

const char* const tooShort = "Screen update too short";
const char* const cutShort = "Screen update cut short";
const char* const badSize = "Bad screen size";
const char* const tooOften = "Screen size changed too often";

// The smallest area holding both.
TileCanvas::Area united(const TileCanvas::Area& a, const TileCanvas::Area& b) {
  if (b.width <= 0 || b.height <= 0) return a;
  if (a.width <= 0 || a.height <= 0) return b;
  const int x = std::min(a.x, b.x), y = std::min(a.y, b.y);
  return {x, y, std::max(a.x + a.width, b.x + b.width) - x, std::max(a.y + a.height, b.y + b.height) - y};
}

}  // namespace

std::optional<TileCanvas::Header> TileCanvas::peekHeader(ByteView update) {
  const Bytes head = Zlib::peek(update, kHeaderBytes);
  if (head.size() < kHeaderBytes) return std::nullopt;
  return Header{readLE16(head, 0), readLE16(head, 2), readLE16(head, 4)};
}

// The update's header comes first in the stream, so its claimed screen is
// known before the rest is inflated: the update may hold at most its headers
// and one screenful of pixels. A small stream that would inflate to more is
// refused instead of filling memory.
Bytes TileCanvas::inflate(ByteView update) const {
  const auto header = peekHeader(update);
  // Corrupt, or too short to be an update: the full inflate tells which.
  if (!header) return Zlib::decompress(update, kHeaderBytes);
  if (!screenFits(header->width, header->height)) throw bad(badSize);
  return Zlib::decompress(update, kHeaderBytes + size_t(header->count) * kTileHeaderBytes +
                                      size_t(header->width) * size_t(header->height) * kBytesPerPixel);
}

void TileCanvas::resize(int width, int height) {
  pixels_.reset();
  width_ = height_ = 0;
  // calloc takes large blocks as fresh pages, which the system zeroes when
  // they are first touched: no pass over a screen that no tile has reached.
  const size_t bytes = size_t(width) * size_t(height) * 4;
  pixels_ = std::shared_ptr<uint8_t[]>(static_cast<uint8_t*>(std::calloc(bytes, 1)), std::free);
  // Out of memory: no canvas, and the update is refused like any bad one.
  if (!pixels_) throw bad(badSize);
  width_ = width;
  height_ = height;
  changed_ = {0, 0, width, height};
}

void TileCanvas::apply(ByteView update, const MayResize& mayResize) {
  // The tiles of an update that failed were written but not shown: their
  // area stays in the next one's.
  if (applied_) changed_ = {};
  applied_ = false;
  const Bytes data = inflate(update);
  if (data.size() < kHeaderBytes) throw bad(tooShort);
  const int w = readLE16(data, 0), h = readLE16(data, 2), n = readLE16(data, 4);
  if (!screenFits(w, h)) throw bad(badSize);
  if (w != width_ || h != height_) {
    if (mayResize && !mayResize()) throw bad(tooOften);
    resize(w, h);
  }

  size_t p = kHeaderBytes;
  for (int i = 0; i < n; ++i) {
    if (!inRange(data.size(), p, kTileHeaderBytes)) throw bad(tooShort);
    const int x = readLE16(data, p), y = readLE16(data, p + 2);
    const int tw = readLE16(data, p + 4), th = readLE16(data, p + 6);
    p += kTileHeaderBytes;
    const size_t pixelBytes = size_t(tw) * size_t(th) * kBytesPerPixel;
    if (x + tw > w || y + th > h || !inRange(data.size(), p, pixelBytes)) throw bad(cutShort);
    const uint8_t* from = data.data() + p;
    for (int r = 0; r < th; ++r) {
      uint8_t* to = pixels_.get() + (size_t(y + r) * size_t(w) + size_t(x)) * 4;
      for (int c = 0; c < tw; ++c, from += 3, to += 4) {
        to[0] = from[0];
        to[1] = from[1];
        to[2] = from[2];
        to[3] = 255;
      }
    }
    p += pixelBytes;
    changed_ = united(changed_, {x, y, tw, th});
  }
  applied_ = true;
}

std::optional<TileCanvas::Image> TileCanvas::image() const {
  if (width_ <= 0 || height_ <= 0) return std::nullopt;
  return Image{width_, height_, pixels_, changed_};
}

}  // namespace plimo
