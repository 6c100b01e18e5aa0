// Screen updates from an untrusted host. Most inputs are the inflated update,
// compressed here, so that the tile reader behind the inflate sees the
// fuzzer's bytes; one in eight (first byte a multiple of 8) is the zlib
// stream itself, for the inflating paths. One canvas lives across inputs, so
// size changes and half-applied updates meet each other.

#include <cstdint>
#include <cstdlib>

#include "support/Zlib.h"
#include "viewer/TileCanvas.h"

using namespace plimo;

namespace {

// Screens above this many pixels are legal but each size change would clear
// megabytes (the largest legal canvas is 1 GiB), so inputs claiming them are
// skipped; the size limits themselves stay reachable (16384 x 64).
constexpr size_t maxPixels = size_t(1) << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const ByteView rest(data + 1, size - 1);
  const Bytes stream = (data[0] % 8 == 0) ? Bytes(rest.begin(), rest.end()) : Zlib::compress(rest);
  if (const auto header = TileCanvas::peekHeader(stream);
      header && size_t(header->width) * size_t(header->height) > maxPixels)
    return 0;

  static TileCanvas canvas;
  try {
    canvas.apply(stream);
  } catch (const Failure& failure) {
    if (failure.kind() != Failure::Kind::badUpdate && failure.kind() != Failure::Kind::corrupt) std::abort();
  }
  if (canvas.pixels().size() != size_t(canvas.width()) * size_t(canvas.height()) * 4) std::abort();
  if (canvas.width() != 0 && (canvas.width() < 2 || canvas.height() < 2)) std::abort();
  return 0;
}
