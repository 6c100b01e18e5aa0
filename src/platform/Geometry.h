#pragma once
// Plain rectangles and sizes in doubles, as screens and pictures are measured.

namespace plimo {

struct Size {
  double width = 0;
  double height = 0;
  bool operator==(const Size&) const = default;
};

struct Rect {
  double x = 0;  // left
  double y = 0;  // top (y grows downwards)
  double width = 0;
  double height = 0;
  bool operator==(const Rect&) const = default;
};

}  // namespace plimo
