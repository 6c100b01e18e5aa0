#pragma once
// Where the remote picture sits in the view and which remote pixel a point
// of the view shows: the rules every pointer event and every paint follow.

#include <optional>

namespace plimo {

enum class ViewScale { fit, original };

struct ViewRect {
  double x = 0, y = 0, width = 0, height = 0;
  bool empty() const { return width <= 0 || height <= 0; }
  bool operator==(const ViewRect&) const = default;
};

struct RemotePoint {
  int x = 0, y = 0;
  bool operator==(const RemotePoint&) const = default;
};

// The picture's place in a view of `boundsW` × `boundsH`: one remote pixel a
// point at the top left (original), or the largest centred fit with black
// bars (fit, which may also enlarge). Empty while either size is unknown.
ViewRect destinationRect(ViewScale scale, double boundsW, double boundsH, double remoteW, double remoteH);

// The remote pixel under view point (px, py); points over the black bars map
// to the nearest edge pixel. Nothing when the picture has no place.
std::optional<RemotePoint> remotePoint(const ViewRect& dest, double px, double py, double remoteW, double remoteH);

// Edge panning in original size: -1 near the low edge of the visible span
// [low, high], +1 near the high edge, else 0.
int panStep(double pointer, double low, double high);

// How far the visible area moves each pan tick (1/60 s) and how close to an
// edge the pointer must come.
inline constexpr double kPanPoints = 14;
inline constexpr double kPanMargin = 24;
inline constexpr double kPanPeriod = 1.0 / 60;

}  // namespace plimo
