#pragma once
// Wire format of a lossless screen update, written by the host's tile encoder
// and read by the viewer's tile canvas.
//
// One zlib stream (support/Zlib) of, integers u16 little-endian:
//   width, height, tile count n, then n tiles back to back:
//   x0, y0, tw, th, then tw x th pixels as blue, green, red, rows top down.
// No padding, no trailer. The writer sends tiles of at most 64 x 64 in
// ascending index, at most 64 per update; the reader takes any order, count
// and size that fits the screen, and ignores bytes after the n-th tile.

#include <cstddef>

namespace plimo::TileFormat {

inline constexpr size_t kHeaderBytes = 6;
inline constexpr size_t kTileHeaderBytes = 8;
inline constexpr size_t kBytesPerPixel = 3;

inline constexpr int kTileSize = 64;
inline constexpr int kMaxTilesPerUpdate = 64;
// The largest update the writer makes: 786,432 bytes of pixels plus headers,
// which bounds one update's encode time and size.
inline constexpr size_t kMaxUpdateBytes =
    kHeaderBytes + size_t(kMaxTilesPerUpdate) * (kTileHeaderBytes + size_t(kTileSize) * kTileSize * kBytesPerPixel);

// Screens both sides take, in either direction. The format could claim
// 65,535 x 65,535 (17 GB of canvas); 16,384 covers every real display and
// bounds the viewer's canvas at 1 GiB. Below 2 is no screen.
inline constexpr int kMinDimension = 2;
inline constexpr int kMaxDimension = 16384;

inline constexpr bool screenFits(int width, int height) {
  return width >= kMinDimension && height >= kMinDimension && width <= kMaxDimension && height <= kMaxDimension;
}

}  // namespace plimo::TileFormat
