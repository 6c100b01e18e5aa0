#pragma once
// Pictures and measures shared by the video tests and benches.

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/Bytes.h"
#include "platform/Picture.h"
#include "platform/fake/SyntheticDesktop.h"

namespace plimo::videokit {

inline Picture pictureOf(const SyntheticDesktop& desktop) {
  Picture picture(desktop.width(), desktop.height());
  std::memcpy(picture.pixels.data(), desktop.picture().data(), picture.pixels.size());
  return picture;
}

// The desktop's next picture.
inline Picture next(SyntheticDesktop& desktop) {
  desktop.next();
  return pictureOf(desktop);
}

// Peak signal-to-noise ratio in dB over blue, green and red of `original`'s
// area (`decoded` may be larger); 99 for identical pictures.
inline double psnr(const Picture& original, const Picture& decoded) {
  double sum = 0;
  for (int y = 0; y < original.height; ++y) {
    const uint8_t* a = original.row(y);
    const uint8_t* b = decoded.row(y);
    for (int x = 0; x < original.width * 4; ++x) {
      if (x % 4 == 3) continue;
      const double d = double(a[x]) - double(b[x]);
      sum += d * d;
    }
  }
  const double mse = sum / (double(original.width) * original.height * 3);
  return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

// Every NAL unit of an Annex B stream behind 00 00 01 instead of 00 00 00 01.
inline Bytes withShortStartCodes(ByteView stream) {
  Bytes out;
  for (size_t i = 0; i < stream.size(); ++i) {
    if (i + 3 < stream.size() && stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 0 && stream[i + 3] == 1)
      continue;
    out.push_back(stream[i]);
  }
  return out;
}

// A shell command's standard output, and whether it ran and succeeded.
struct CommandResult {
  bool ok = false;
  std::string output;
};

inline CommandResult run(const std::string& command) {
  CommandResult result;
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  result.ok = pclose(pipe) == 0;
  return result;
}

}  // namespace plimo::videokit
