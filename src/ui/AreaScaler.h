#pragma once
// Shrinks a picture by area averaging: each fitted pixel is the mean of the
// part of the picture it covers, so small text keeps even strokes where a
// bilinear filter, reading only the four nearest pixels, drops some and
// doubles others. Any rectangle of the fitted picture can be worked out alone
// and comes out exactly as in a whole one, so a change is scaled where it is.
//
// Pixels are QImage::Format_RGB32. Only for shrinking: each fitted size no
// larger than the picture's. Unchanged once made: any thread.

#include <QImage>
#include <QRect>
#include <cstdint>
#include <vector>

namespace plimo {

class AreaScaler {
 public:
  AreaScaler(QSize picture, QSize fitted);

  QSize picture() const { return picture_; }
  QSize fitted() const { return fitted_; }
  // The fitted pixels that read any pixel of `area` of the picture.
  QRect fittedArea(const QRect& area) const;
  // The picture's pixels that `area` of the fitted picture reads.
  QRect pictureArea(const QRect& area) const;
  // Writes `area` of the fitted picture of `picture` into `target`, both of
  // their full sizes.
  void scale(const QImage& picture, const QRect& area, QImage& target) const;

 private:
  // For each fitted column (row): the first picture column (row) it reads and
  // `count` weights from there, summing to 256.
  struct Taps {
    int count = 0;
    std::vector<int> first;
    std::vector<uint16_t> weights;
  };
  static Taps taps(int from, int to);
  template <int Count>
  void row(const uint8_t* blended, int firstColumn, uint8_t* out, int left, int right) const;

  QSize picture_, fitted_;
  Taps across_, down_;
  std::vector<uint16_t> spread_;  // across_'s weights, as the lanes of two pixels
};

}  // namespace plimo
