#include <gtest/gtest.h>

#include <vector>

#include "core/Bytes.h"
#include "host/TileEncoder.h"
#include "protocol/wire/TileFormat.h"
#include "support/Zlib.h"

using namespace plimo;

namespace {

struct Tile {
  int x, y, w, h;
  Bytes pixels;  // blue, green, red
};

struct Update {
  int width = 0, height = 0;
  std::vector<Tile> tiles;
};

// Reads an update strictly: the tile count must match and nothing may follow.
Update parse(const Bytes& stream) {
  const Bytes raw = Zlib::decompress(stream);
  Update u;
  EXPECT_GE(raw.size(), 6u);
  u.width = readLE16(raw, 0);
  u.height = readLE16(raw, 2);
  const int n = readLE16(raw, 4);
  size_t p = 6;
  for (int i = 0; i < n; ++i) {
    Tile t{readLE16(raw, p), readLE16(raw, p + 2), readLE16(raw, p + 4), readLE16(raw, p + 6), {}};
    p += 8;
    const size_t size = size_t(t.w) * size_t(t.h) * 3;
    EXPECT_TRUE(inRange(raw.size(), p, size));
    t.pixels = bytes(raw, p, size);
    p += size;
    u.tiles.push_back(std::move(t));
  }
  EXPECT_EQ(p, raw.size());
  return u;
}

// A picture of distinct pixels, optionally with padded rows.
struct Screen {
  int width, height;
  size_t stride;
  Bytes data;
  Screen(int w, int h, size_t padding = 0) : width(w), height(h), stride(size_t(w) * 4 + padding) {
    data.resize(stride * size_t(h), 0xEE);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) set(x, y, uint32_t(x * 7 + y * 131));
  }
  void set(int x, int y, uint32_t value) {
    uint8_t* p = data.data() + size_t(y) * stride + size_t(x) * 4;
    p[0] = uint8_t(value);
    p[1] = uint8_t(value >> 8);
    p[2] = uint8_t(value >> 16);
    p[3] = 255;
  }
  TileEncoder::PixelView picture() const { return {data.data(), width, height, stride}; }
};

std::vector<int> tileCounts(TileEncoder& encoder, const Screen& screen, bool firstFull = false) {
  std::vector<int> counts;
  bool full = firstFull;
  while (auto update = encoder.update(screen.picture(), full)) {
    counts.push_back(int(parse(*update).tiles.size()));
    full = false;
  }
  return counts;
}

}  // namespace

TEST(TileEncoder, FirstPictureOf1080pIsSweptInEightUpdates) {
  Screen screen(1920, 1080);
  TileEncoder encoder;
  auto first = encoder.update(screen.picture(), false);
  ASSERT_TRUE(first);
  const Update u = parse(*first);
  EXPECT_EQ(u.width, 1920);
  EXPECT_EQ(u.height, 1080);
  ASSERT_EQ(u.tiles.size(), 64u);
  EXPECT_TRUE(encoder.sweeping());
  EXPECT_EQ(encoder.sweepIndex(), 64);
  // Ascending index, row by row: 30 tiles to a row.
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(u.tiles[size_t(i)].x, (i % 30) * 64);
    EXPECT_EQ(u.tiles[size_t(i)].y, (i / 30) * 64);
  }

  std::vector<int> counts = {64};
  for (int n : tileCounts(encoder, screen)) counts.push_back(n);
  EXPECT_EQ(counts, (std::vector<int>{64, 64, 64, 64, 64, 64, 64, 62}));
  EXPECT_FALSE(encoder.sweeping());
  EXPECT_EQ(encoder.sweepIndex(), 0);
  // The unchanged picture afterwards gives nothing at all.
  EXPECT_FALSE(encoder.update(screen.picture(), false));
}

TEST(TileEncoder, EdgeTilesAreNarrowerAndLower) {
  Screen screen(100, 100);
  TileEncoder encoder;
  auto update = encoder.update(screen.picture(), false);
  ASSERT_TRUE(update);
  const Update u = parse(*update);
  ASSERT_EQ(u.tiles.size(), 4u);
  const int expected[4][4] = {{0, 0, 64, 64}, {64, 0, 36, 64}, {0, 64, 64, 36}, {64, 64, 36, 36}};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(u.tiles[i].x, expected[i][0]);
    EXPECT_EQ(u.tiles[i].y, expected[i][1]);
    EXPECT_EQ(u.tiles[i].w, expected[i][2]);
    EXPECT_EQ(u.tiles[i].h, expected[i][3]);
  }
  EXPECT_FALSE(encoder.sweeping());
}

TEST(TileEncoder, WireBytesOfASmallScreen) {
  Screen screen(2, 2);
  screen.set(0, 0, 0x030201);
  screen.set(1, 0, 0x060504);
  screen.set(0, 1, 0x090807);
  screen.set(1, 1, 0x0C0B0A);
  TileEncoder encoder;
  const auto update = encoder.update(screen.picture(), false);
  ASSERT_TRUE(update);
  const Bytes raw = {2, 0, 2, 0, 1, 0,  // 2 x 2 screen, one tile
                     0, 0, 0, 0, 2, 0, 2, 0,  // at 0,0, 2 x 2
                     1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};  // blue, green, red; alpha dropped
  ASSERT_GE(update->size(), 6u);
  EXPECT_EQ((*update)[0], 0x78);
  EXPECT_EQ((*update)[1], 0x9C);
  EXPECT_EQ(readBE<uint32_t>(*update, update->size() - 4), Zlib::adler32(raw));
  EXPECT_EQ(Zlib::decompress(*update), raw);
}

TEST(TileEncoder, OneChangedPixelSendsItsTileOnly) {
  Screen screen(1920, 1080);
  TileEncoder encoder;
  tileCounts(encoder, screen);
  screen.set(1000, 500, 0xABCDEF);
  const auto update = encoder.update(screen.picture(), false);
  ASSERT_TRUE(update);
  const Update u = parse(*update);
  ASSERT_EQ(u.tiles.size(), 1u);
  const Tile& t = u.tiles[0];
  EXPECT_EQ(t.x, 960);
  EXPECT_EQ(t.y, 448);
  EXPECT_EQ(t.w, 64);
  EXPECT_EQ(t.h, 64);
  const size_t at = (size_t(500 - 448) * 64 + size_t(1000 - 960)) * 3;
  EXPECT_EQ(bytes(t.pixels, at, 3), (Bytes{0xEF, 0xCD, 0xAB}));
  EXPECT_FALSE(encoder.update(screen.picture(), false));
}

TEST(TileEncoder, HundredChangedTilesGoOutAs64Then36) {
  Screen screen(1920, 1080);
  TileEncoder encoder;
  tileCounts(encoder, screen);
  // Every fifth tile, one pixel in its bottom-right corner.
  std::vector<std::pair<int, int>> changed;
  for (int i = 0; i < 100; ++i) {
    const int index = i * 5;
    const int x = (index % 30) * 64 + 63, y = std::min((index / 30) * 64 + 63, 1079);
    screen.set(x, y, 0x123456);
    changed.emplace_back((index % 30) * 64, (index / 30) * 64);
  }
  auto first = encoder.update(screen.picture(), false);
  auto second = encoder.update(screen.picture(), false);
  ASSERT_TRUE(first && second);
  std::vector<std::pair<int, int>> sent;
  for (const auto* update : {&*first, &*second})
    for (const Tile& t : parse(*update).tiles) sent.emplace_back(t.x, t.y);
  EXPECT_EQ(parse(*first).tiles.size(), 64u);
  EXPECT_EQ(parse(*second).tiles.size(), 36u);
  EXPECT_EQ(sent, changed);
  EXPECT_FALSE(encoder.update(screen.picture(), false));
}

TEST(TileEncoder, FullRestartsTheSweep) {
  Screen screen(1920, 1080);
  TileEncoder encoder;
  ASSERT_TRUE(encoder.update(screen.picture(), false));
  ASSERT_TRUE(encoder.update(screen.picture(), false));
  ASSERT_TRUE(encoder.update(screen.picture(), false));
  EXPECT_EQ(encoder.sweepIndex(), 192);
  const auto restart = encoder.update(screen.picture(), true);
  ASSERT_TRUE(restart);
  EXPECT_EQ(parse(*restart).tiles.front().x, 0);
  EXPECT_EQ(parse(*restart).tiles.front().y, 0);
  EXPECT_EQ(encoder.sweepIndex(), 64);
  EXPECT_EQ(tileCounts(encoder, screen), (std::vector<int>{64, 64, 64, 64, 64, 64, 62}));

  // After a finished sweep, `full` on an unchanged screen sends it all again.
  EXPECT_EQ(tileCounts(encoder, screen, true), (std::vector<int>{64, 64, 64, 64, 64, 64, 64, 62}));
}

TEST(TileEncoder, NewSizeStartsASweepOfTheNewScreen) {
  Screen big(1920, 1080);
  TileEncoder encoder;
  tileCounts(encoder, big);
  Screen small(130, 70);  // 3 x 2 tiles
  const auto update = encoder.update(small.picture(), false);
  ASSERT_TRUE(update);
  const Update u = parse(*update);
  EXPECT_EQ(u.width, 130);
  EXPECT_EQ(u.height, 70);
  EXPECT_EQ(u.tiles.size(), 6u);
  EXPECT_EQ(encoder.width(), 130);
  EXPECT_FALSE(encoder.update(small.picture(), false));
}

TEST(TileEncoder, PaddedRowsAreReadWithoutTheirPadding) {
  Screen screen(70, 3, 24);
  TileEncoder encoder;
  const auto update = encoder.update(screen.picture(), false);
  ASSERT_TRUE(update);
  const Update u = parse(*update);
  ASSERT_EQ(u.tiles.size(), 2u);
  EXPECT_EQ(u.tiles[1].x, 64);
  EXPECT_EQ(u.tiles[1].w, 6);
  // Pixel (65, 2): value 65 * 7 + 2 * 131.
  const uint32_t v = 65 * 7 + 2 * 131;
  EXPECT_EQ(bytes(u.tiles[1].pixels, (2 * 6 + 1) * 3, 3), (Bytes{uint8_t(v), uint8_t(v >> 8), 0}));
  // Padding is not picture: changing it sends nothing.
  screen.data[size_t(70) * 4 + 5] ^= 0xFF;
  EXPECT_FALSE(encoder.update(screen.picture(), false));
}

TEST(TileEncoder, UnreadableOrOversizedPicturesGiveNothing) {
  TileEncoder encoder;
  EXPECT_FALSE(encoder.update({nullptr, 1920, 1080, 7680}, false));
  // Screens the viewer's canvas refuses are not sent.
  const size_t stride = size_t(TileFormat::kMaxDimension + 1) * 4;
  const Bytes rows(stride * 2, 0);
  EXPECT_FALSE(encoder.update({rows.data(), TileFormat::kMaxDimension + 1, 2, stride}, false));
  EXPECT_FALSE(encoder.update({rows.data(), 2, TileFormat::kMaxDimension + 1, 8}, false));
  EXPECT_FALSE(encoder.update({rows.data(), 100, 1, stride}, false));
  EXPECT_FALSE(encoder.update({rows.data(), 100, 2, 100}, false));  // rows shorter than their pixels
  EXPECT_EQ(encoder.width(), 0);
  EXPECT_FALSE(encoder.sweeping());
  // The widest picture both sides take still works.
  EXPECT_TRUE(encoder.update({rows.data(), TileFormat::kMaxDimension, 2, stride}, false));
}

TEST(TileEncoder, ReadsCapturedPictures) {
  Picture captured(70, 2);
  captured.stride = 70 * 4 + 8;  // padded rows
  captured.pixels.assign(size_t(captured.stride) * 2, 0x42);
  TileEncoder encoder;
  const auto update = encoder.update(captured, false);
  ASSERT_TRUE(update);
  const Update u = parse(*update);
  ASSERT_EQ(u.tiles.size(), 2u);
  EXPECT_EQ(u.tiles[1].pixels, Bytes(6 * 2 * 3, 0x42));

  // A picture whose store is smaller than its rows cannot be read.
  Picture broken(100, 100);
  broken.pixels.resize(100);
  EXPECT_FALSE(encoder.update(broken, false));
  EXPECT_FALSE(encoder.update(Picture{}, true));
  EXPECT_EQ(encoder.width(), 70);
}

// The screen changes while the first picture is being swept: the tiles the
// sweep had already sent are compared again once it ends, so the change
// before the sweep's position is not lost.
TEST(TileEncoder, AChangeBehindASweepGoesOutWhenTheSweepEnds) {
  Screen screen(1920, 1080);
  TileEncoder encoder;
  ASSERT_TRUE(encoder.update(screen.picture(), false));
  screen.set(10, 10, 0xABCDEF);  // tile 0, already sent
  // As the host asks: again while the encoder says more is due.
  std::vector<int> counts;
  while (encoder.more()) {
    auto update = encoder.update(screen.picture(), false);
    counts.push_back(update ? int(parse(*update).tiles.size()) : 0);
  }
  EXPECT_EQ(counts, (std::vector<int>{64, 64, 64, 64, 64, 64, 62, 1}));
  // A sweep done in one update leaves nothing to compare.
  Screen small(320, 240);
  TileEncoder one;
  ASSERT_TRUE(one.update(small.picture(), false));
  EXPECT_FALSE(one.more());
}
