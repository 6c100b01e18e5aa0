#pragma once
// The helper's profile as this viewer sends it (its format: wire/
// SessionCodecs.h): the text and, when a picture was loaded, the picture.
//
// Platform-free; the viewer session reads the picture file through the
// platform and passes it here.

#include <string>

#include "core/Bytes.h"
#include "platform/Geometry.h"
#include "platform/Picture.h"
#include "support/AppSettings.h"

namespace plimo::ViewerProfile {

// The longer side of a profile picture, at most.
inline constexpr int kSide = 96;

// The size a picture of `width` × `height` is reduced to: 96 on the longer
// side (the width when both are equal), the other in proportion, rounded,
// at least 1.
Size fit(int width, int height);

// The four fields of the settings, and whether a picture follows.
std::string text(const AppSettings& settings, bool pictureFollows);

// Message 16 for a picture of at most 65,535 pixels a side.
Bytes picture(const Picture& picture);

}  // namespace plimo::ViewerProfile
