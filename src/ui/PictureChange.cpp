#include "ui/PictureChange.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace plimo {

QRect changedArea(const QImage& before, const QImage& after) {
  if (before.size() != after.size() || before.depth() != 32 || after.depth() != 32) return after.rect();
  const int width = after.width();
  const size_t rowBytes = size_t(width) * 4;
  int top = -1, bottom = -1, left = width, right = -1;
  for (int y = 0; y < after.height(); ++y) {
    const auto* a = reinterpret_cast<const uint32_t*>(before.constScanLine(y));
    const auto* b = reinterpret_cast<const uint32_t*>(after.constScanLine(y));
    if (std::memcmp(a, b, rowBytes) == 0) continue;
    if (top < 0) top = y;
    bottom = y;
    // Only the columns outside the rectangle found so far need a look.
    int x = 0;
    while (x < left && a[x] == b[x]) ++x;
    left = std::min(left, x);
    x = width - 1;
    while (x > right && a[x] == b[x]) --x;
    right = std::max(right, x);
  }
  if (top < 0) return {};
  return QRect(QPoint(left, top), QPoint(right, bottom));
}

}  // namespace plimo
