#pragma once
// The drawing a scripted desktop needs: filled rectangles and a made-up
// 8 x 16 font, into a 32-bit BGRA picture it does not own (rows without
// padding), clipped to the picture. Deterministic, so two desktops drawn
// alike match byte for byte.

#include <cstdint>
#include <string_view>

namespace plimo {

// Deterministic integer hashing (the same pictures on every platform).
uint32_t syntheticMix(uint32_t v);

class SyntheticPainter {
 public:
  struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
  };
  // Character cells of 8 x 16 pixels with 2 rows of leading, like a small
  // terminal font: the shape of text matters to the tile compressor, the
  // legibility does not.
  static constexpr int cellWidth = 8;
  static constexpr int glyphHeight = 16;
  static constexpr int lineHeight = 18;

  // `pixels` holds width x height pixels and outlives the painter.
  SyntheticPainter(uint8_t *pixels, int width, int height) : pixels_(pixels), width_(width), height_(height) {}

  // One pixel, inside the picture.
  void put(int x, int y, uint32_t rgb);
  void fill(Rect r, uint32_t colour);
  // A line of text with its top left at x, y, clipped to `clip`; the paper
  // is assumed drawn already.
  void text(int x, int y, std::string_view line, uint32_t ink, uint32_t paper, Rect clip);
  // One pixel row (`row` of the cell) of character c.
  void glyphRow(int x, int y, char c, int row, uint32_t ink, uint32_t paper, Rect clip);

 private:
  uint8_t *const pixels_;
  const int width_;
  const int height_;
};

}  // namespace plimo
