// The helper's profile picture from an untrusted viewer: u16 width, u16
// height, then a zlib stream of the pixels. Most inputs give the sides and
// the inflated pixels, compressed here, so the size checks and the pixel copy
// behind the inflate see the fuzzer's bytes; odd first bytes repeat the
// pixels to the exact size the sides claim, so whole pictures are common. One
// in eight (first byte a multiple of 8) is the payload itself, for the
// inflating paths. Whatever decodes must be the picture the bytes describe,
// and whatever describes a picture must decode.

#include <cstdint>
#include <cstdlib>
#include <optional>

#include "host/HelperProfile.h"
#include "support/Zlib.h"

using namespace plimo;

namespace {

constexpr size_t kSides = 4;

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  const ByteView rest(data + 1, size - 1);
  Bytes payload;
  std::optional<Bytes> pixels;  // what the stream after the sides inflates to
  if (mode % 8 == 0 || rest.size() < kSides) {
    payload.assign(rest.begin(), rest.end());
    if (payload.size() > kSides) {
      try {
        pixels = Zlib::decompress(ByteView(payload).subspan(kSides), size_t(HelperProfile::kMaxSide) *
                                                                         HelperProfile::kMaxSide * 3);
      } catch (const Failure&) {
      }
    }
  } else {
    payload.assign(rest.begin(), rest.begin() + kSides);
    pixels.emplace(rest.begin() + kSides, rest.end());
    const size_t claimed = size_t(readLE16(payload, 0)) * readLE16(payload, 2) * 3;
    if ((mode & 1) && claimed <= size_t(HelperProfile::kMaxSide) * HelperProfile::kMaxSide * 3) {
      Bytes whole(claimed, 0);
      for (size_t i = 0; i < claimed && !pixels->empty(); ++i) whole[i] = (*pixels)[i % pixels->size()];
      pixels = std::move(whole);
    }
    append(payload, Zlib::compress(*pixels));
  }

  const auto picture = HelperProfile::decodePicture(payload);
  const int width = payload.size() > kSides ? readLE16(payload, 0) : 0;
  const int height = payload.size() > kSides ? readLE16(payload, 2) : 0;
  const bool fits = width >= 1 && width <= HelperProfile::kMaxSide && height >= 1 && height <= HelperProfile::kMaxSide;
  check(picture.has_value() == (fits && pixels && pixels->size() == size_t(width) * size_t(height) * 3));
  if (!picture) return 0;
  check(picture->width == width && picture->height == height && picture->stride == width * 4);
  check(picture->pixels.size() == size_t(width) * size_t(height) * 4);
  for (size_t i = 0; i < size_t(width) * size_t(height); ++i) {
    check(picture->pixels[i * 4] == (*pixels)[i * 3] && picture->pixels[i * 4 + 1] == (*pixels)[i * 3 + 1] &&
          picture->pixels[i * 4 + 2] == (*pixels)[i * 3 + 2] && picture->pixels[i * 4 + 3] == 0xFF);
  }
  return 0;
}
