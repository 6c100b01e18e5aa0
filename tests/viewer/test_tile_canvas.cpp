#include <gtest/gtest.h>

#include <random>

#include "core/Bytes.h"
#include "support/Zlib.h"
#include "viewer/TileCanvas.h"

using namespace plimo;

namespace {

// Builds the inflated bytes of an update by hand, so that bad ones can be made.
struct Raw {
  Bytes bytes;
  Raw(int width, int height, int count) {
    appendLE<uint16_t>(bytes, uint16_t(width));
    appendLE<uint16_t>(bytes, uint16_t(height));
    appendLE<uint16_t>(bytes, uint16_t(count));
  }
  // A tile whose pixels are all (blue, green, red) = (b, b + 1, b + 2).
  Raw& tile(int x, int y, int w, int h, uint8_t b, size_t dropLast = 0) {
    appendLE<uint16_t>(bytes, uint16_t(x));
    appendLE<uint16_t>(bytes, uint16_t(y));
    appendLE<uint16_t>(bytes, uint16_t(w));
    appendLE<uint16_t>(bytes, uint16_t(h));
    for (int i = 0; i < w * h; ++i) bytes.insert(bytes.end(), {b, uint8_t(b + 1), uint8_t(b + 2)});
    bytes.resize(bytes.size() - dropLast);
    return *this;
  }
  Bytes stream(int level = Zlib::kLevel) const { return Zlib::compress(bytes, level); }
};

Bytes pixelAt(const TileCanvas& canvas, int x, int y) {
  return bytes(canvas.pixels(), (size_t(y) * size_t(canvas.width()) + size_t(x)) * 4, 4);
}

// The canvas's own failures, as the session logs them.
const std::string tooShort = R"(bad("Screen update too short"))";
const std::string cutShort = R"(bad("Screen update cut short"))";
const std::string badSize = R"(bad("Bad screen size"))";

// The failure's text, or "applied".
std::string failureOf(TileCanvas& canvas, const Bytes& stream) {
  try {
    canvas.apply(stream);
  } catch (const Failure& failure) {
    // The inflater's failure passes through unchanged.
    EXPECT_EQ(failure.kind(), failure.text() == "corrupt" ? Failure::Kind::corrupt : Failure::Kind::badUpdate);
    return failure.text();
  }
  return "applied";
}

}  // namespace

TEST(TileCanvas, EmptyUpdateMakesABlackScreen) {
  TileCanvas canvas;
  EXPECT_FALSE(canvas.image());
  canvas.apply(Raw(1920, 1080, 0).stream());
  const auto image = canvas.image();
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width, 1920);
  EXPECT_EQ(image->height, 1080);
  ASSERT_EQ(canvas.pixels().size(), size_t(1920) * 1080 * 4);
  EXPECT_EQ(std::count(canvas.pixels().begin(), canvas.pixels().end(), 0), 1920 * 1080 * 4);
}

TEST(TileCanvas, OnePixelTileWritesBlueGreenRedAndOpaque) {
  TileCanvas canvas;
  canvas.apply(Raw(4, 3, 1).tile(2, 1, 1, 1, 0x10).stream());
  EXPECT_EQ(pixelAt(canvas, 2, 1), (Bytes{0x10, 0x11, 0x12, 255}));
  // Exactly those four bytes.
  EXPECT_EQ(std::count(canvas.pixels().begin(), canvas.pixels().end(), 0), 4 * 3 * 4 - 4);
}

TEST(TileCanvas, TilesMayComeInAnyOrderAndSize) {
  TileCanvas canvas;
  canvas.apply(Raw(200, 100, 4)
                   .tile(150, 50, 50, 50, 0x40)  // bottom right, larger than the writer sends is fine too
                   .tile(0, 0, 0, 10, 0x99)      // empty tiles write nothing
                   .tile(0, 0, 10, 0, 0x99)
                   .tile(0, 0, 100, 2, 0x20)
                   .stream());
  EXPECT_EQ(pixelAt(canvas, 199, 99), (Bytes{0x40, 0x41, 0x42, 255}));
  EXPECT_EQ(pixelAt(canvas, 99, 1), (Bytes{0x20, 0x21, 0x22, 255}));
  EXPECT_EQ(pixelAt(canvas, 0, 2), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(pixelAt(canvas, 149, 99), (Bytes{0, 0, 0, 0}));
}

TEST(TileCanvas, TileMustFitTheScreen) {
  TileCanvas canvas;
  EXPECT_EQ(failureOf(canvas, Raw(1920, 1080, 1).tile(1900, 0, 20, 4, 1).stream()), "applied");
  EXPECT_EQ(failureOf(canvas, Raw(1920, 1080, 1).tile(1900, 0, 21, 4, 1).stream()), cutShort);
  EXPECT_EQ(failureOf(canvas, Raw(1920, 1080, 1).tile(0, 1070, 4, 11, 1).stream()), cutShort);
  EXPECT_EQ(failureOf(canvas, Raw(1920, 1080, 1).tile(65535, 0, 65535, 1, 1).stream()),
            cutShort);
}

TEST(TileCanvas, EachFailureHasItsText) {
  TileCanvas canvas;
  EXPECT_EQ(failureOf(canvas, Zlib::compress(Bytes{0x80, 0x07, 0x38, 0x04, 0})), tooShort);
  EXPECT_EQ(failureOf(canvas, Zlib::compress(Bytes{})), tooShort);
  EXPECT_EQ(failureOf(canvas, Raw(1, 1080, 0).stream()), badSize);
  EXPECT_EQ(failureOf(canvas, Raw(1920, 1, 0).stream()), badSize);
  // Header of the second tile cut off.
  Raw headerCut(64, 64, 2);
  headerCut.tile(0, 0, 2, 2, 1);
  headerCut.bytes.insert(headerCut.bytes.end(), {0, 0, 0, 0, 2});
  EXPECT_EQ(failureOf(canvas, headerCut.stream()), tooShort);
  // Pixels of a tile cut off.
  EXPECT_EQ(failureOf(canvas, Raw(64, 64, 1).tile(0, 0, 2, 2, 1, 1).stream()), cutShort);
  // A stream that is not zlib: the decompressor's failure, unchanged.
  EXPECT_EQ(failureOf(canvas, Bytes{1, 2, 3, 4, 5, 6, 7, 8}), "corrupt");
  Bytes truncated = Raw(64, 64, 1).tile(0, 0, 64, 64, 7).stream();
  truncated.resize(truncated.size() / 2);
  EXPECT_EQ(failureOf(canvas, truncated), "corrupt");
}

TEST(TileCanvas, RefusedUpdatesLeaveTheCanvasAlone) {
  TileCanvas canvas;
  canvas.apply(Raw(8, 8, 1).tile(0, 0, 8, 8, 0x50).stream());
  const Bytes before(canvas.pixels().begin(), canvas.pixels().end());
  for (const Bytes& stream : {Raw(1, 8, 0).stream(), Raw(16385, 8, 0).stream(), Zlib::compress(Bytes{1, 2, 3}),
                              Bytes{0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}) {
    EXPECT_NE(failureOf(canvas, stream), "applied");
    EXPECT_EQ(canvas.width(), 8);
    EXPECT_EQ(canvas.height(), 8);
    EXPECT_EQ(Bytes(canvas.pixels().begin(), canvas.pixels().end()), before);
  }
}

TEST(TileCanvas, TilesBeforeAFailingOneStayWritten) {
  TileCanvas canvas;
  EXPECT_EQ(failureOf(canvas, Raw(100, 100, 2).tile(10, 10, 5, 5, 0x30).tile(90, 90, 20, 20, 0x60).stream()),
            cutShort);
  EXPECT_EQ(pixelAt(canvas, 12, 12), (Bytes{0x30, 0x31, 0x32, 255}));
  EXPECT_EQ(pixelAt(canvas, 95, 95), (Bytes{0, 0, 0, 0}));

  EXPECT_EQ(failureOf(canvas, Raw(100, 100, 3).tile(0, 0, 1, 1, 0x70).tile(1, 0, 1, 1, 0x71).stream()),
            tooShort);
  EXPECT_EQ(pixelAt(canvas, 0, 0), (Bytes{0x70, 0x71, 0x72, 255}));
  EXPECT_EQ(pixelAt(canvas, 1, 0), (Bytes{0x71, 0x72, 0x73, 255}));
}

TEST(TileCanvas, NewSizeBlacksOutBeforeNewTiles) {
  TileCanvas canvas;
  canvas.apply(Raw(10, 10, 1).tile(0, 0, 10, 10, 0x11).stream());
  canvas.apply(Raw(12, 10, 1).tile(0, 0, 2, 2, 0x22).stream());
  EXPECT_EQ(canvas.width(), 12);
  EXPECT_EQ(pixelAt(canvas, 1, 1), (Bytes{0x22, 0x23, 0x24, 255}));
  EXPECT_EQ(pixelAt(canvas, 5, 5), (Bytes{0, 0, 0, 0}));
  // The same size again keeps what is there.
  canvas.apply(Raw(12, 10, 0).stream());
  EXPECT_EQ(pixelAt(canvas, 1, 1), (Bytes{0x22, 0x23, 0x24, 255}));
}

TEST(TileCanvas, TheImageIsTheCanvasUntilTheSizeChanges) {
  TileCanvas canvas;
  canvas.apply(Raw(4, 4, 1).tile(0, 0, 1, 1, 0x01).stream());
  const auto image = canvas.image();
  ASSERT_TRUE(image);
  canvas.apply(Raw(4, 4, 1).tile(0, 0, 1, 1, 0x09).stream());
  // No copy: the view reads the canvas as updates change it.
  const auto store = image->pixels.lock();
  ASSERT_TRUE(store);
  EXPECT_EQ(store.get(), canvas.pixels().data());
  EXPECT_EQ(Bytes(store.get(), store.get() + 4), (Bytes{0x09, 0x0A, 0x0B, 255}));
  // A new size lets the old store go, even while an image of it is out.
  std::weak_ptr<const uint8_t[]> old = image->pixels;
  canvas.apply(Raw(6, 4, 0).stream());
  EXPECT_EQ(old.use_count(), 1);  // only `store` above
}

TEST(TileCanvas, TheChangedAreaHoldsEveryTileNotShownYet) {
  using Area = TileCanvas::Area;
  TileCanvas canvas;
  const auto changed = [&] { return canvas.image()->changed; };
  canvas.apply(Raw(100, 100, 1).tile(1, 2, 3, 4, 1).stream());
  EXPECT_EQ(changed(), (Area{0, 0, 100, 100}));  // a new size: all of it
  canvas.apply(Raw(100, 100, 2).tile(30, 40, 5, 5, 1).tile(10, 60, 2, 2, 1).stream());
  EXPECT_EQ(changed(), (Area{10, 40, 25, 22}));
  canvas.apply(Raw(100, 100, 0).stream());
  EXPECT_EQ(changed(), Area{});
  // A failed update's tiles were written: the next update shows them too.
  EXPECT_EQ(failureOf(canvas, Raw(100, 100, 2).tile(10, 10, 5, 5, 1).tile(99, 0, 2, 1, 1).stream()), cutShort);
  canvas.apply(Raw(100, 100, 1).tile(50, 50, 1, 1, 1).stream());
  EXPECT_EQ(changed(), (Area{10, 10, 41, 41}));
}

TEST(TileCanvas, ANewSizeIsTakenOnlyWhenAllowed) {
  TileCanvas canvas;
  canvas.apply(Raw(8, 8, 1).tile(0, 0, 1, 1, 0x50).stream());
  int asked = 0;
  const TileCanvas::MayResize refuse = [&] { return ++asked, false; };
  try {
    canvas.apply(Raw(16, 8, 1).tile(0, 0, 1, 1, 0x60).stream(), refuse);
    ADD_FAILURE() << "a refused size was taken";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.kind(), Failure::Kind::badUpdate);
    EXPECT_EQ(failure.text(), R"(bad("Screen size changed too often"))");
  }
  EXPECT_EQ(canvas.width(), 8);
  EXPECT_EQ(pixelAt(canvas, 0, 0), (Bytes{0x50, 0x51, 0x52, 255}));
  // The same size needs no leave; a bad size is refused before it is asked.
  canvas.apply(Raw(8, 8, 1).tile(1, 0, 1, 1, 0x70).stream(), refuse);
  EXPECT_THROW(canvas.apply(Raw(1, 8, 0).stream(), refuse), Failure);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(pixelAt(canvas, 1, 0), (Bytes{0x70, 0x71, 0x72, 255}));
}

TEST(TileCanvas, ScreensBeyond16384AreRefused) {
  TileCanvas canvas;
  EXPECT_EQ(failureOf(canvas, Raw(16385, 2, 0).stream()), badSize);
  EXPECT_EQ(failureOf(canvas, Raw(2, 65535, 0).stream()), badSize);
  EXPECT_EQ(canvas.width(), 0);
  EXPECT_EQ(failureOf(canvas, Raw(16384, 2, 0).stream()), "applied");
  EXPECT_EQ(canvas.width(), 16384);
}

TEST(TileCanvas, InflatingIsBoundedByTheClaimedScreen) {
  const auto header = TileCanvas::peekHeader(Raw(640, 480, 3).tile(0, 0, 9, 9, 1).stream());
  ASSERT_TRUE(header);
  EXPECT_EQ(header->width, 640);
  EXPECT_EQ(header->height, 480);
  EXPECT_EQ(header->count, 3);
  EXPECT_FALSE(TileCanvas::peekHeader(Zlib::compress(Bytes{1, 2, 3, 4, 5})));
  EXPECT_FALSE(TileCanvas::peekHeader(Bytes{0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF}));

  TileCanvas canvas;
  // A whole screen in one tile inflates to exactly the bound, and is fine.
  EXPECT_EQ(failureOf(canvas, Raw(64, 64, 1).tile(0, 0, 64, 64, 0x05).stream()), "applied");
  // Bytes after the last tile are ignored while they fit what the screen holds.
  Raw trailing(64, 64, 0);
  trailing.bytes.resize(trailing.bytes.size() + 64 * 64 * 3, 0xAB);
  EXPECT_EQ(failureOf(canvas, trailing.stream()), "applied");
  // A few kilobytes that would inflate to 64 MB for a 2 x 2 screen are refused
  // before they are inflated.
  Raw bomb(2, 2, 1);
  bomb.tile(0, 0, 1, 1, 0x0F);
  bomb.bytes.resize(size_t(64) << 20, 0);
  const Bytes stream = bomb.stream(9);
  EXPECT_LT(stream.size(), size_t(100) << 10);
  EXPECT_EQ(failureOf(canvas, stream), "corrupt");
  EXPECT_EQ(canvas.width(), 64);
  EXPECT_EQ(pixelAt(canvas, 0, 0), (Bytes{0x05, 0x06, 0x07, 255}));
}

TEST(TileCanvas, GarbageAndTruncationNeverCrash) {
  std::mt19937 random(7);
  TileCanvas canvas;
  const Bytes good = Raw(300, 200, 3).tile(0, 0, 64, 64, 1).tile(64, 0, 64, 64, 2).tile(236, 136, 64, 64, 3).stream();
  // The trailer is not checked, so only cuts into the DEFLATE data must fail.
  for (size_t cut = 0; cut + 4 < good.size(); ++cut) {
    EXPECT_NE(failureOf(canvas, bytes(good, 0, cut)), "applied") << cut;
  }
  const Bytes raw = Zlib::decompress(good);
  for (size_t cut = 0; cut < raw.size(); cut += 97) {
    EXPECT_NE(failureOf(canvas, Zlib::compress(bytes(raw, 0, cut))), "applied") << cut;
  }
  for (int i = 0; i < 500; ++i) {
    Bytes noise(size_t(random() % 300));
    for (auto& b : noise) b = uint8_t(random());
    if (i % 2 == 0 && noise.size() > 2) noise[0] = 0x78, noise[1] = 0x9C;
    failureOf(canvas, noise);
    // Plausible headers over random tile records.
    Bytes records = noise;
    Raw header(int(random() % 400), int(random() % 400), int(random() % 8));
    append(header.bytes, records);
    failureOf(canvas, header.stream());
  }
}
