// Screen updates from an untrusted host. The first byte picks how the rest is
// used: as the zlib stream itself (the inflating paths), or as the inflated
// update, compressed here (the tile reader's paths). One canvas lives across
// inputs, so size changes and half-applied updates meet each other.

#include <zlib.h>

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

// The screen an update's stream claims, read from its first inflated bytes.
size_t claimedPixels(const Bytes& stream) {
  if (stream.size() <= 2) return 0;
  uint8_t head[4] = {};
  z_stream zs{};
  if (inflateInit2(&zs, -15) != Z_OK) return 0;
  zs.next_in = const_cast<Bytef*>(stream.data() + 2);
  zs.avail_in = uInt(stream.size() - 2);
  zs.next_out = head;
  zs.avail_out = sizeof head;
  int status = Z_OK;
  while (zs.avail_out > 0 && status == Z_OK) status = inflate(&zs, Z_NO_FLUSH);
  const bool whole = zs.avail_out == 0;
  inflateEnd(&zs);
  return whole ? size_t(readLE16(head, 0)) * readLE16(head, 2) : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const ByteView rest(data + 1, size - 1);
  const Bytes stream = (data[0] & 1) ? Zlib::compress(rest) : Bytes(rest.begin(), rest.end());
  if (claimedPixels(stream) > maxPixels) return 0;

  static TileCanvas canvas;
  try {
    canvas.apply(stream);
  } catch (const TileCanvas::Failure&) {
  } catch (Zlib::Failure) {
  }
  if (canvas.pixels().size() != size_t(canvas.width()) * size_t(canvas.height()) * 4) std::abort();
  if (canvas.width() != 0 && (canvas.width() < 2 || canvas.height() < 2)) std::abort();
  return 0;
}
