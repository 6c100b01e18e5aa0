#include "viewer/ScreenGeometry.h"

#include <algorithm>
#include <cmath>

namespace plimo {

ViewRect destinationRect(ViewScale scale, double boundsW, double boundsH, double remoteW, double remoteH) {
  if (remoteW <= 0 || remoteH <= 0 || boundsW <= 0 || boundsH <= 0) return {};
  if (scale == ViewScale::original) return {0, 0, remoteW, remoteH};
  double s = std::min(boundsW / remoteW, boundsH / remoteH);
  double w = std::round(remoteW * s), h = std::round(remoteH * s);
  return {std::round((boundsW - w) * 0.5), std::round((boundsH - h) * 0.5), w, h};
}

std::optional<RemotePoint> remotePoint(const ViewRect& dest, double px, double py, double remoteW, double remoteH) {
  if (dest.empty() || remoteW < 1 || remoteH < 1) return std::nullopt;
  // Far outside points would overflow an int before the clamp.
  double x = std::trunc((px - dest.x) * remoteW / dest.width);
  double y = std::trunc((py - dest.y) * remoteH / dest.height);
  return RemotePoint{int(std::clamp(x, 0.0, remoteW - 1)), int(std::clamp(y, 0.0, remoteH - 1))};
}

int panStep(double pointer, double low, double high) {
  if (pointer - low < kPanMargin) return -1;
  if (high - pointer < kPanMargin) return 1;
  return 0;
}

}  // namespace plimo
