#include "ui/AreaScaler.h"

#include <algorithm>
#include <cstring>

namespace plimo {

namespace {
// Two pixels' four channels, so that GCC and Clang make SIMD of them.
using Lanes = uint16_t __attribute__((vector_size(16)));
using Bytes8 = uint8_t __attribute__((vector_size(8)));
constexpr uint16_t kOne = 256;  // all the weights of one fitted pixel
}  // namespace

AreaScaler::Taps AreaScaler::taps(int from, int to) {
  // In units of 1/to of a picture pixel: picture pixel i covers
  // [i·to, (i+1)·to), fitted pixel d covers [d·from, (d+1)·from).
  Taps t;
  t.first.resize(size_t(to));
  for (int64_t d = 0; d < to; ++d) t.count = std::max(t.count, int(((d + 1) * from - 1) / to - d * from / to + 1));
  t.weights.assign(size_t(to) * size_t(t.count), 0);
  for (int64_t d = 0; d < to; ++d) {
    const int64_t begin = d * from, end = begin + from;
    // Every fitted pixel reads `count` pixels: one near the end starts
    // earlier, its first weights zero.
    const int first = std::min(int(begin / to), from - t.count);
    t.first[size_t(d)] = first;
    // Rounded running sums, so that each pixel's weights sum to kOne exactly.
    int64_t covered = 0;
    int rounded = 0;
    for (int64_t i = begin / to; i <= (end - 1) / to; ++i) {
      covered += std::min(end, (i + 1) * to) - std::max(begin, i * to);
      const int next = int((covered * kOne * 2 + from) / (2 * from));
      t.weights[size_t(d) * size_t(t.count) + size_t(i - first)] = uint16_t(next - rounded);
      rounded = next;
    }
  }
  return t;
}

AreaScaler::AreaScaler(QSize picture, QSize fitted)
    : picture_(picture),
      fitted_(fitted),
      across_(taps(picture.width(), fitted.width())),
      down_(taps(picture.height(), fitted.height())) {
  // Each column's weights, and its right neighbour's, four times over: the
  // lanes of a pair of pixels.
  const int columns = fitted.width(), count = across_.count;
  spread_.resize(size_t(columns) * size_t(count) * 8);
  for (int x = 0; x < columns; ++x)
    for (int k = 0; k < count; ++k)
      for (int lane = 0; lane < 8; ++lane) {
        const int column = lane < 4 ? x : std::min(x + 1, columns - 1);
        spread_[(size_t(x) * size_t(count) + size_t(k)) * 8 + size_t(lane)] =
            across_.weights[size_t(column) * size_t(count) + size_t(k)];
      }
}

QRect AreaScaler::fittedArea(const QRect& area) const {
  const QRect a = area & QRect(QPoint(), picture_);
  if (a.isEmpty()) return {};
  // The fitted pixels whose span overlaps [first, end) of `from` pixels.
  auto span = [](int first, int end, int from, int to) {
    return std::pair{int(int64_t(first) * to / from), int((int64_t(end) * to + from - 1) / from)};
  };
  auto [left, right] = span(a.left(), a.right() + 1, picture_.width(), fitted_.width());
  auto [top, bottom] = span(a.top(), a.bottom() + 1, picture_.height(), fitted_.height());
  return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

QRect AreaScaler::pictureArea(const QRect& area) const {
  const QRect a = area & QRect(QPoint(), fitted_);
  if (a.isEmpty()) return {};
  return QRect(
      QPoint(across_.first[size_t(a.left())], down_.first[size_t(a.top())]),
      QPoint(across_.first[size_t(a.right())] + across_.count - 1, down_.first[size_t(a.bottom())] + down_.count - 1));
}

void AreaScaler::scale(const QImage& picture, const QRect& area, QImage& target) const {
  const QRect a = area & QRect(QPoint(), fitted_);
  if (a.isEmpty() || picture.size() != picture_ || target.size() != fitted_) return;
  const int left = a.left(), right = a.right() + 1;
  const int firstColumn = across_.first[size_t(left)];
  const size_t n = size_t(across_.first[size_t(right - 1)] + across_.count - firstColumn) * 4;
  std::vector<uint16_t> sum(n);
  std::vector<uint8_t> blended(n);
  const qsizetype stride = picture.bytesPerLine();
  for (int y = a.top(); y <= a.bottom(); ++y) {
    // Down first, into one row of the picture's columns that the area reads;
    // then across.
    const uint16_t* w = &down_.weights[size_t(y) * size_t(down_.count)];
    const uint8_t* top = picture.constScanLine(down_.first[size_t(y)]) + size_t(firstColumn) * 4;
    for (size_t i = 0; i < n; ++i) sum[i] = uint16_t(kOne / 2 + w[0] * top[i]);
    for (int k = 1; k < down_.count; ++k) {
      const uint8_t* line = top + k * stride;
      for (size_t i = 0; i < n; ++i) sum[i] = uint16_t(sum[i] + w[k] * line[i]);
    }
    for (size_t i = 0; i < n; ++i) blended[i] = uint8_t(sum[i] >> 8);
    uint8_t* out = target.scanLine(y);
    switch (across_.count) {
      case 1: row<1>(blended.data(), firstColumn, out, left, right); break;
      case 2: row<2>(blended.data(), firstColumn, out, left, right); break;
      case 3: row<3>(blended.data(), firstColumn, out, left, right); break;
      case 4: row<4>(blended.data(), firstColumn, out, left, right); break;
      default: row<0>(blended.data(), firstColumn, out, left, right); break;
    }
  }
}

// A fixed count (0: any) lets the compiler unroll the taps of the common
// sizes.
template <int Count>
void AreaScaler::row(const uint8_t* blended, int firstColumn, uint8_t* out, int left, int right) const {
  const int count = Count ? Count : across_.count;
  for (int x = left; x < right; x += 2) {
    const bool pair = x + 1 < right;
    const uint8_t* a = blended + size_t(across_.first[size_t(x)] - firstColumn) * 4;
    const uint8_t* b = pair ? blended + size_t(across_.first[size_t(x) + 1] - firstColumn) * 4 : a;
    const uint16_t* w = &spread_[size_t(x) * size_t(count) * 8];
    Lanes total = {kOne / 2, kOne / 2, kOne / 2, kOne / 2, kOne / 2, kOne / 2, kOne / 2, kOne / 2};
    for (int k = 0; k < count; ++k) {
      Bytes8 pixels;
      std::memcpy(&pixels, a + k * 4, 4);
      std::memcpy(reinterpret_cast<uint8_t*>(&pixels) + 4, b + k * 4, 4);
      Lanes weights;
      std::memcpy(&weights, w + k * 8, sizeof weights);
      total += __builtin_convertvector(pixels, Lanes) * weights;
    }
    const Bytes8 shown = __builtin_convertvector(total >> 8, Bytes8);
    std::memcpy(out + size_t(x) * 4, &shown, pair ? 8 : 4);
  }
}

}  // namespace plimo
