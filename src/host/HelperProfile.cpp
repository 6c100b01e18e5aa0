#include "host/HelperProfile.h"

#include "support/Zlib.h"

namespace plimo::HelperProfile {

std::optional<Picture> decodePicture(ByteView payload) {
  const auto contents = ProfilePicture::decode(payload);
  if (!contents) return std::nullopt;
  const int width = contents->width, height = contents->height;
  const size_t expected = size_t(width) * size_t(height) * 3;
  Bytes pixels;
  try {
    // Bounded by the size it claims: a small stream must not inflate to gigabytes.
    pixels = Zlib::decompress(contents->deflated, expected);
  } catch (const Failure&) {
    return std::nullopt;
  }
  if (pixels.size() != expected) return std::nullopt;
  Picture picture(width, height);
  for (size_t i = 0; i < size_t(width) * size_t(height); ++i) {
    picture.pixels[i * 4 + 0] = pixels[i * 3 + 0];
    picture.pixels[i * 4 + 1] = pixels[i * 3 + 1];
    picture.pixels[i * 4 + 2] = pixels[i * 3 + 2];
    picture.pixels[i * 4 + 3] = 0xFF;
  }
  return picture;
}

}  // namespace plimo::HelperProfile
