#pragma once
// The helper's profile as the host reads it: a text "name|company|e-mail|
// phone|picture follows" (channel message 15) and a small picture (16):
// u16 width, u16 height (1 to 256 each), then a zlib stream of width ×
// height pixels of blue, green, red.
//
// Both come from the partner and are checked before use; the picture never
// inflates past the bytes its size claims.

#include <optional>
#include <string>
#include <string_view>

#include "core/Bytes.h"
#include "platform/Picture.h"

namespace plimo::HelperProfile {

struct Text {
  std::optional<std::string> name;     // trimmed; none when empty
  std::optional<std::string> company;  // trimmed, also when empty; none without a second field
  bool pictureFollows = false;         // the fifth field is exactly "1"
};

Text parseText(std::string_view text);

inline constexpr int kMaxSide = 256;

// The picture with an alpha of 255, or nothing for any fault.
std::optional<Picture> decodePicture(ByteView payload);

}  // namespace plimo::HelperProfile
