#pragma once
// Where two pictures of one size differ: what a new video picture changed,
// so that the view scales and paints only that. A decoder copies unchanged
// blocks exactly, so a still part compares equal.

#include <QImage>
#include <QRect>

namespace plimo {

// The smallest rectangle holding every pixel that differs; empty when none
// does, the whole picture when the sizes differ.
QRect changedArea(const QImage& before, const QImage& after);

}  // namespace plimo
