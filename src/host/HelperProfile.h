#pragma once
// The helper's profile picture as the host takes it (its format: wire/
// SessionCodecs.h). It comes from the partner: it never inflates past the
// bytes its size claims.

#include <optional>

#include "core/Bytes.h"
#include "platform/Picture.h"
#include "protocol/wire/SessionCodecs.h"

namespace plimo::HelperProfile {

inline constexpr int kMaxSide = ProfilePicture::kMaxSide;

// The picture with an alpha of 255, or nothing for any fault.
std::optional<Picture> decodePicture(ByteView payload);

}  // namespace plimo::HelperProfile
