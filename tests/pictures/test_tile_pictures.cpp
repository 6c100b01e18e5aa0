// Pictures through the whole lossless path: synthetic desktop -> tile encoder
// -> bytes -> tile canvas, which must end up equal to the desktop bit for bit.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "host/TileEncoder.h"
#include "platform/fake/SyntheticDesktop.h"
#include "support/Zlib.h"
#include "viewer/TileCanvas.h"

using namespace plimo;

namespace {

TileEncoder::PixelView pictureOf(const SyntheticDesktop& desktop) {
  return {desktop.picture().data(), desktop.width(), desktop.height(), desktop.bytesPerRow()};
}

// Sends the desktop's current picture until the encoder has nothing left;
// returns how many updates that took.
int drain(TileEncoder& encoder, TileCanvas& canvas, const SyntheticDesktop& desktop, bool full = false) {
  int updates = 0;
  while (auto update = encoder.update(pictureOf(desktop), full)) {
    canvas.apply(*update);
    full = false;
    ++updates;
  }
  return updates;
}

// The canvas holds the desktop's blue, green and red, each pixel opaque. The
// desktop's own alpha is 255 throughout, so the two stores are equal byte for byte.
::testing::AssertionResult sameScreen(const TileCanvas& canvas, const SyntheticDesktop& desktop) {
  if (canvas.width() != desktop.width() || canvas.height() != desktop.height())
    return ::testing::AssertionFailure() << "canvas " << canvas.width() << "x" << canvas.height() << ", screen "
                                         << desktop.width() << "x" << desktop.height();
  const ByteView have = canvas.pixels(), want = desktop.picture();
  if (std::memcmp(have.data(), want.data(), want.size()) == 0) return ::testing::AssertionSuccess();
  const size_t pixel = size_t(std::mismatch(have.begin(), have.end(), want.begin()).first - have.begin()) / 4;
  return ::testing::AssertionFailure() << "pixel " << pixel % size_t(desktop.width()) << ","
                                       << pixel / size_t(desktop.width()) << " differs";
}

// Indexes of the tiles one update carries.
std::set<int> tilesOf(const Bytes& update) {
  const Bytes raw = Zlib::decompress(update);
  const int width = readLE16(raw, 0), n = readLE16(raw, 4);
  const int cols = (width + 63) / 64;
  std::set<int> tiles;
  size_t p = 6;
  for (int i = 0; i < n; ++i) {
    tiles.insert(readLE16(raw, p + 2) / 64 * cols + readLE16(raw, p) / 64);
    p += 8 + size_t(readLE16(raw, p + 4)) * readLE16(raw, p + 6) * 3;
  }
  return tiles;
}

}  // namespace

TEST(TilePictures, EveryScriptArrivesBitExact) {
  for (const auto script : SyntheticDesktop::allScripts) {
    SCOPED_TRACE(std::string(SyntheticDesktop::name(script)));
    SyntheticDesktop desktop(script);
    TileEncoder encoder;
    TileCanvas canvas;
    EXPECT_EQ(drain(encoder, canvas, desktop), 8);
    ASSERT_TRUE(sameScreen(canvas, desktop));
    for (int i = 0; i < 6; ++i) {
      desktop.next();
      drain(encoder, canvas, desktop);
      ASSERT_TRUE(sameScreen(canvas, desktop)) << "picture " << desktop.step();
    }
  }
}

TEST(TilePictures, ScreensOfOddSizesArriveBitExact) {
  for (const auto& [w, h] : {std::pair{100, 100}, {1470, 918}, {333, 77}, {65, 65}, {2, 2}, {1366, 768}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    SyntheticDesktop desktop(SyntheticDesktop::Script::busy, w, h);
    TileEncoder encoder;
    TileCanvas canvas;
    for (int i = 0; i < 5; ++i) {
      drain(encoder, canvas, desktop);
      ASSERT_TRUE(sameScreen(canvas, desktop)) << "picture " << desktop.step();
      desktop.next();
    }
  }
}

TEST(TilePictures, SizeChangesArriveBitExact) {
  SyntheticDesktop desktop(SyntheticDesktop::Script::busy);
  TileEncoder encoder;
  TileCanvas canvas;
  drain(encoder, canvas, desktop);
  for (const auto& [w, h] : {std::pair{1366, 768}, {1470, 918}, {1920, 1080}}) {
    desktop.next();
    drain(encoder, canvas, desktop);
    desktop.resize(w, h);
    // The encoder sends the new screen whole; the canvas starts it from black.
    const auto first = encoder.update(pictureOf(desktop), false);
    ASSERT_TRUE(first);
    canvas.apply(*first);
    EXPECT_EQ(canvas.width(), w);
    EXPECT_EQ(canvas.pixels()[size_t(w) * size_t(h) * 4 - 1], 0) << "bottom right not yet sent";
    drain(encoder, canvas, desktop);
    ASSERT_TRUE(sameScreen(canvas, desktop));
    desktop.next();
    drain(encoder, canvas, desktop);
    ASSERT_TRUE(sameScreen(canvas, desktop));
  }
}

TEST(TilePictures, FullRefreshMendsADamagedCanvas) {
  SyntheticDesktop desktop(SyntheticDesktop::Script::video);
  TileEncoder encoder;
  TileCanvas canvas;
  drain(encoder, canvas, desktop);
  // An update lost on the way: the viewer's copy is now stale.
  desktop.next();
  ASSERT_TRUE(encoder.update(pictureOf(desktop), false));
  desktop.next();
  EXPECT_EQ(drain(encoder, canvas, desktop, true), 8);
  EXPECT_TRUE(sameScreen(canvas, desktop));
}

// Later benches and session tests count on what each script changes.
TEST(TilePictures, ScriptsChangeWhatTheyPromise) {
  const auto changedTiles = [](SyntheticDesktop::Script script) {
    SyntheticDesktop desktop(script);
    TileEncoder encoder;
    TileCanvas canvas;
    drain(encoder, canvas, desktop);
    std::vector<size_t> counts;
    for (int i = 0; i < 40; ++i) {
      desktop.next();
      const auto update = encoder.update(pictureOf(desktop), false);
      counts.push_back(update ? tilesOf(*update).size() : 0);
    }
    return counts;
  };
  for (size_t n : changedTiles(SyntheticDesktop::Script::still)) EXPECT_EQ(n, 0u);
  for (size_t n : changedTiles(SyntheticDesktop::Script::typing)) {
    EXPECT_GE(n, 1u);
    EXPECT_LE(n, 4u);
  }
  for (size_t n : changedTiles(SyntheticDesktop::Script::scrolling)) EXPECT_EQ(n, 64u);
  for (size_t n : changedTiles(SyntheticDesktop::Script::video)) {
    EXPECT_GE(n, 6u);
    EXPECT_LE(n, 24u);
  }

  SyntheticDesktop a(SyntheticDesktop::Script::busy), b(SyntheticDesktop::Script::busy);
  for (int i = 0; i < 5; ++i) {
    a.next();
    b.next();
  }
  EXPECT_TRUE(std::equal(a.picture().begin(), a.picture().end(), b.picture().begin()));
  for (size_t i = 3; i < a.picture().size(); i += 4) ASSERT_EQ(a.picture()[i], 255) << i;
}
