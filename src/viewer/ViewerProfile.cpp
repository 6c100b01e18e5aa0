#include "viewer/ViewerProfile.h"

#include <algorithm>
#include <cmath>

#include "protocol/wire/SessionCodecs.h"
#include "support/Zlib.h"

namespace plimo::ViewerProfile {

namespace {

// 96 × side ÷ by, rounded half away from zero, at least 1.
int scaled(int side, int by) { return std::max(1, int(std::lround(double(kSide) * side / by))); }

}  // namespace

Size fit(int width, int height) {
  if (width < height) return {double(scaled(width, height)), double(kSide)};
  return {double(kSide), double(scaled(height, width))};
}

std::string text(const AppSettings& settings, bool pictureFollows) {
  return ProfileText::encode(
      {settings.profileName, settings.profileCompany, settings.profileEmail, settings.profilePhone, pictureFollows});
}

Bytes picture(const Picture& picture) {
  Bytes raw;
  raw.reserve(size_t(picture.width) * size_t(picture.height) * 3);
  for (int y = 0; y < picture.height; ++y) {
    const uint8_t* p = picture.row(y);
    for (int x = 0; x < picture.width; ++x, p += 4) raw.insert(raw.end(), p, p + 3);
  }
  return ProfilePicture::encode(picture.width, picture.height, Zlib::compress(raw));
}

}  // namespace plimo::ViewerProfile
