#include "viewer/TileCanvas.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

#include "support/Zlib.h"

namespace plimo {

namespace {

constexpr size_t headerBytes = 6;
constexpr size_t tileHeaderBytes = 8;

const char* const tooShort = "Screen update too short";
const char* const cutShort = "Screen update cut short";
const char* const badSize = "Bad screen size";

}  // namespace

std::optional<TileCanvas::Header> TileCanvas::peekHeader(ByteView update) {
  if (update.size() <= 2) return std::nullopt;
  uint8_t head[headerBytes];
  z_stream zs{};
  if (inflateInit2(&zs, -15) != Z_OK) return std::nullopt;  // raw DEFLATE after the 2-byte zlib header
  zs.next_in = const_cast<Bytef*>(update.data() + 2);
  zs.avail_in = uInt(std::min<size_t>(update.size() - 2, std::numeric_limits<uInt>::max()));
  zs.next_out = head;
  zs.avail_out = uInt(headerBytes);
  int status = Z_OK;
  while (zs.avail_out > 0 && status == Z_OK) status = ::inflate(&zs, Z_NO_FLUSH);
  const bool whole = zs.avail_out == 0;
  inflateEnd(&zs);
  if (!whole) return std::nullopt;
  const ByteView view(head, headerBytes);
  return Header{readLE16(view, 0), readLE16(view, 2), readLE16(view, 4)};
}

// The update's header comes first in the stream, so its claimed screen is
// known before the rest is inflated: the update may hold at most its headers
// and one screenful of pixels. A small stream that would inflate to more is
// refused instead of filling memory.
Bytes TileCanvas::inflate(ByteView update) const {
  const auto header = peekHeader(update);
  // Corrupt, or too short to be an update: the full inflate tells which.
  if (!header) return Zlib::decompress(update, headerBytes);
  if (header->width > maxDimension || header->height > maxDimension) throw Failure{badSize};
  return Zlib::decompress(update, headerBytes + size_t(header->count) * tileHeaderBytes +
                                      size_t(header->width) * size_t(header->height) * 3);
}

void TileCanvas::apply(ByteView update) {
  const Bytes data = inflate(update);
  if (data.size() < headerBytes) throw Failure{tooShort};
  const int w = readLE16(data, 0), h = readLE16(data, 2), n = readLE16(data, 4);
  if (w < 2 || h < 2 || w > maxDimension || h > maxDimension) throw Failure{badSize};
  if (w != width_ || h != height_) {
    width_ = w;
    height_ = h;
    pixels_.assign(size_t(w) * size_t(h) * 4, 0);
  }

  size_t p = headerBytes;
  for (int i = 0; i < n; ++i) {
    if (!inRange(data.size(), p, tileHeaderBytes)) throw Failure{tooShort};
    const int x = readLE16(data, p), y = readLE16(data, p + 2);
    const int tw = readLE16(data, p + 4), th = readLE16(data, p + 6);
    p += tileHeaderBytes;
    const size_t pixelBytes = size_t(tw) * size_t(th) * 3;
    if (x + tw > w || y + th > h || !inRange(data.size(), p, pixelBytes)) throw Failure{cutShort};
    const uint8_t* from = data.data() + p;
    for (int r = 0; r < th; ++r) {
      uint8_t* to = pixels_.data() + (size_t(y + r) * size_t(w) + size_t(x)) * 4;
      for (int c = 0; c < tw; ++c, from += 3, to += 4) {
        to[0] = from[0];
        to[1] = from[1];
        to[2] = from[2];
        to[3] = 255;
      }
    }
    p += pixelBytes;
  }
}

std::optional<TileCanvas::Image> TileCanvas::image() const {
  if (width_ <= 0 || height_ <= 0) return std::nullopt;
  return Image{width_, height_, std::make_shared<const Bytes>(pixels_)};
}

}  // namespace plimo
