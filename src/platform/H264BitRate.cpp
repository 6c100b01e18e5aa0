#include "platform/H264BitRate.h"

#include <algorithm>

namespace plimo {

int h264BitRateKbps(int width, int height, int fps) {
  const double bitsPerPixel = fps < 60 ? 0.12 : 0.08;
  const double kbps = bitsPerPixel * double(width) * double(height) * double(fps) / 1000.0;
  return int(std::clamp(kbps, 2000.0, 20000.0));
}

}  // namespace plimo
