// Picture files through FFmpeg: a PNG written and read back is the same
// picture, a read picture is reduced to the size asked for, and files that
// are not pictures (missing, empty, garbage, cut short, claiming a huge
// size) read as nothing.

#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "core/Bytes.h"
#include "platform/ffmpeg/ImageFiles.h"
#include "testkit/TempDir.h"

using namespace plimo;

namespace {

Size same(int w, int h) { return {double(w), double(h)}; }

void write(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(ImageFiles, APngRoundTripsAndReadsReducedOverBlack) {
  testkit::TempDir dir("images");
  Picture noise(123, 45);
  std::mt19937 random(3);
  for (size_t i = 0; i < noise.pixels.size(); ++i) noise.pixels[i] = i % 4 == 3 ? 255 : uint8_t(random());
  const std::string path = dir / "noise.png";
  ASSERT_TRUE(ImageFiles::writePng(path, noise));
  auto back = ImageFiles::read(path, same);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->pixels, noise.pixels);

  Picture grey(200, 100);
  std::fill(grey.pixels.begin(), grey.pixels.end(), 0x80);
  for (size_t i = 3; i < grey.pixels.size(); i += 4) grey.pixels[i] = 255;
  ASSERT_TRUE(ImageFiles::writePng(path, grey));
  auto small = ImageFiles::read(path, [](int w, int h) { return Size{double(w) / 2, double(h) / 2}; });
  ASSERT_TRUE(small);
  EXPECT_EQ(small->width, 100);
  EXPECT_EQ(small->height, 50);
  for (uint8_t b : small->pixels) EXPECT_TRUE(b == 0x80 || b == 255);
  EXPECT_FALSE(ImageFiles::writePng((dir / "missing" / "x.png"), grey));
}

TEST(ImageFiles, FilesThatAreNotPicturesReadAsNothing) {
  testkit::TempDir dir("bad-images");
  Picture one(16, 16);
  const std::string good = dir / "good.png";
  ASSERT_TRUE(ImageFiles::writePng(good, one));
  const Bytes png = readAll(good);
  // A PNG whose header claims 100000 x 100000 (libavcodec reads it without
  // checking the chunk's CRC).
  Bytes huge = png;
  for (int at : {16, 20}) huge[at] = 0, huge[at + 1] = 0x01, huge[at + 2] = 0x86, huge[at + 3] = 0xA0;
  struct Case {
    const char* name;
    std::optional<Bytes> bytes;  // nothing: no file at all
  };
  const Case cases[] = {
      {"missing", std::nullopt},
      {"empty", Bytes{}},
      {"garbage", Bytes(4096, 0x5A)},
      {"png cut short", Bytes(png.begin(), png.begin() + long(png.size() / 2))},
      {"png signature only", Bytes(png.begin(), png.begin() + 8)},
      {"png claiming a huge size", huge},
      {"jpeg signature then garbage", [] { Bytes b{0xFF, 0xD8, 0xFF}; b.resize(500, 0x11); return b; }()},
      {"bmp signature then garbage", [] { Bytes b{'B', 'M'}; b.resize(60, 0xFF); return b; }()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir / "case.img";
    std::remove(path.c_str());
    if (c.bytes) write(path, *c.bytes);
    EXPECT_FALSE(ImageFiles::read(path, same));
  }
}
