#include "host/HelperProfile.h"

#include <vector>

#include "core/Text.h"
#include "support/Zlib.h"

namespace plimo::HelperProfile {

Text parseText(std::string_view text) {
  std::vector<std::string_view> fields;
  for (size_t from = 0;;) {
    size_t bar = text.find('|', from);
    fields.push_back(text.substr(from, bar == std::string_view::npos ? std::string_view::npos : bar - from));
    if (bar == std::string_view::npos) break;
    from = bar + 1;
  }
  Text out;
  if (auto name = trimWhitespace(fields[0]); !name.empty()) out.name = std::string(name);
  if (fields.size() >= 2) out.company = std::string(trimWhitespace(fields[1]));
  out.pictureFollows = fields.size() >= 5 && fields[4] == "1";
  return out;
}

std::optional<Picture> decodePicture(ByteView payload) {
  if (payload.size() <= 4) return std::nullopt;
  const int width = readLE<uint16_t>(payload, 0), height = readLE<uint16_t>(payload, 2);
  if (width < 1 || width > kMaxSide || height < 1 || height > kMaxSide) return std::nullopt;
  const size_t expected = size_t(width) * size_t(height) * 3;
  Bytes pixels;
  try {
    // Bounded by the size it claims: a small stream must not inflate to gigabytes.
    pixels = Zlib::decompress(payload.subspan(4), expected);
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
