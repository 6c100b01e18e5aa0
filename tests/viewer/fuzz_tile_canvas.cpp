// Screen updates from an untrusted host. The first byte picks how the rest is
// used: as the zlib stream itself (the inflating paths), or as the inflated
// update, compressed here (the tile reader's paths). One canvas lives across
// inputs, so size changes and half-applied updates meet each other.

#include <cstdint>
#include <cstdlib>

#include "support/Zlib.h"
#include "viewer/TileCanvas.h"

using namespace plimo;

namespace {

// Screens above this many pixels are legal but would run into the fuzzer's
// memory limit (the largest legal canvas is 1 GiB), so inputs claiming them
// are skipped.
constexpr size_t maxPixels = size_t(2048) * 2048;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const ByteView rest(data + 1, size - 1);
  const Bytes stream = (data[0] & 1) ? Zlib::compress(rest) : Bytes(rest.begin(), rest.end());
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
