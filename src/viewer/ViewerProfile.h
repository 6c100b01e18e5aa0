#pragma once
// The helper's profile as this viewer sends it: the text "name|company|
// e-mail|phone|1 or 0" (channel message 15) and, when a picture was loaded,
// the picture (16): u16 width, u16 height, then a zlib stream of width ×
// height pixels of blue, green, red, rows top down.
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

// The four fields with "|" replaced by "/", joined by "|", then "|1" when a
// picture follows, else "|0".
std::string text(const AppSettings& settings, bool pictureFollows);

// Message 16 for a picture of at most 65,535 pixels a side.
Bytes picture(const Picture& picture);

}  // namespace plimo::ViewerProfile
