// Platform-free parts of the video path: the bit-rate rule, the conversion
// to 4:2:0, splitting an Annex B stream, sorting a frame's units for the
// decoder.

#include <gtest/gtest.h>

#include "platform/H264BitRate.h"
#include "platform/H264Units.h"
#include "platform/Yuv420.h"

namespace plimo {
namespace {

std::vector<Bytes> owned(const std::vector<ByteView>& units) {
  std::vector<Bytes> out;
  for (ByteView unit : units) out.emplace_back(unit.begin(), unit.end());
  return out;
}

TEST(H264BitRate, ScalesWithPixelsPerSecondBetweenFloorAndCeiling) {
  EXPECT_EQ(h264BitRateKbps(1440, 900, 60), 6220);
  EXPECT_EQ(h264BitRateKbps(1440, 900, 30), 4665);
  EXPECT_EQ(h264BitRateKbps(640, 480, 30), 2000);
  EXPECT_EQ(h264BitRateKbps(3840, 2160, 60), 20000);
  EXPECT_EQ(h264BitRateKbps(1920, 1080, 30), 7464);
  EXPECT_EQ(h264BitRateKbps(1920, 1080, 60), 9953);
}

TEST(Yuv420, ColoursAreBt601VideoRangeAndChromaIsTheMeanOfEachBlock) {
  struct Case {
    const char* name;
    uint32_t left, right;  // 0xRRGGBB of the picture's left and right halves
    uint8_t y, u, v;       // of the first pixel and first block
  };
  const Case cases[] = {
      {"white", 0xFFFFFF, 0xFFFFFF, 235, 128, 128}, {"black", 0x000000, 0x000000, 16, 128, 128},
      {"red", 0xFF0000, 0xFF0000, 82, 90, 240},     {"green", 0x00FF00, 0x00FF00, 144, 54, 34},
      {"blue", 0x0000FF, 0x0000FF, 41, 240, 110},   {"white beside black", 0xFFFFFF, 0x000000, 235, 128, 128},
  };
  // 3 x 3: the odd last column and row take their chroma from themselves.
  constexpr int kSide = 3;
  for (const Case& c : cases) {
    std::vector<uint8_t> bgra(kSide * kSide * 4);
    for (int i = 0; i < kSide * kSide; ++i) {
      const uint32_t rgb = i % kSide == 0 ? c.left : c.right;
      bgra[4 * i] = uint8_t(rgb), bgra[4 * i + 1] = uint8_t(rgb >> 8), bgra[4 * i + 2] = uint8_t(rgb >> 16);
    }
    uint8_t y[kSide * kSide], u[4], v[4];
    bgraToYuv420(bgra.data(), kSide * 4, kSide, kSide, {y, u, v, kSide, 2, 2});
    EXPECT_EQ(y[0], c.y) << c.name;
    EXPECT_EQ(u[0], c.u) << c.name;
    EXPECT_EQ(v[0], c.v) << c.name;
    // The odd corner pixel is the right half's colour alone.
    std::vector<uint8_t> corner(bgra.end() - 4, bgra.end());
    uint8_t cy, cu, cv;
    bgraToYuv420(corner.data(), 4, 1, 1, {&cy, &cu, &cv, 1, 1, 1});
    EXPECT_EQ(u[3], cu) << c.name;
    EXPECT_EQ(v[3], cv) << c.name;
    EXPECT_EQ(y[8], cy) << c.name;
  }
}

TEST(Yuv420, ABandConvertsAsThePictureAroundItDoes) {
  constexpr int kWidth = 38, kHeight = 20;
  std::vector<uint8_t> bgra(kWidth * kHeight * 4);
  for (size_t i = 0; i < bgra.size(); ++i) bgra[i] = uint8_t(i * 37 + i / 7);
  std::vector<uint8_t> y(kWidth * kHeight), u(kWidth * kHeight / 4), v(kWidth * kHeight / 4);
  bgraToYuv420(bgra.data(), kWidth * 4, kWidth, kHeight, {y.data(), u.data(), v.data(), kWidth, kWidth / 2, kWidth / 2});
  std::vector<uint8_t> by(kWidth * 6), bu(kWidth * 6 / 4), bv(kWidth * 6 / 4);
  bgraToYuv420(bgra.data() + 8 * kWidth * 4, kWidth * 4, kWidth, 6,
               {by.data(), bu.data(), bv.data(), kWidth, kWidth / 2, kWidth / 2});
  EXPECT_TRUE(std::equal(by.begin(), by.end(), y.begin() + 8 * kWidth));
  EXPECT_TRUE(std::equal(bu.begin(), bu.end(), u.begin() + 4 * kWidth / 2));
  EXPECT_TRUE(std::equal(bv.begin(), bv.end(), v.begin() + 4 * kWidth / 2));
}

TEST(NalUnits, MixedStartCodesSplitLikeLongOnes) {
  const Bytes longCodes = {0, 0, 0, 1, 0x67, 1, 2, 0, 0, 0, 1, 0x68, 3, 0, 0, 0, 1, 0x65, 4, 5, 0, 0};
  const Bytes mixed = {0, 0, 1, 0x67, 1, 2, 0, 0, 0, 1, 0x68, 3, 0, 0, 1, 0x65, 4, 5, 0, 0};
  const std::vector<Bytes> expected = {{0x67, 1, 2}, {0x68, 3}, {0x65, 4, 5, 0, 0}};  // trailing zeros kept
  EXPECT_EQ(owned(nalUnits(longCodes)), expected);
  EXPECT_EQ(owned(nalUnits(mixed)), expected);
}

TEST(NalUnits, SkipsLeadingBytesAndEmptyUnits) {
  EXPECT_EQ(owned(nalUnits(Bytes{9, 9, 0, 0, 1, 0, 0, 1, 0x41, 7, 0, 0, 0, 1})), (std::vector<Bytes>{{0x41, 7}}));
  EXPECT_TRUE(nalUnits(Bytes{}).empty());
  EXPECT_TRUE(nalUnits(Bytes{0, 0}).empty());
  EXPECT_TRUE(nalUnits(Bytes{0, 0, 1}).empty());
  EXPECT_TRUE(nalUnits(Bytes{1, 2, 3, 4, 5}).empty());
  EXPECT_EQ(owned(nalUnits(Bytes{0, 0, 1, 0x09})), (std::vector<Bytes>{{0x09}}));
}

TEST(SortUnits, KeepsLastParameterSetsAndPrefixesSlicesWithLengths) {
  Bytes stream = {0, 0, 0, 1, 0x09, 0xF0,            // access unit delimiter: dropped
                  0, 0, 0, 1, 0x67, 1,               // first SPS
                  0, 0, 1, 0x67, 2,                  // a later SPS replaces it
                  0, 0, 0, 1, 0x68, 3,               // PPS
                  0, 0, 0, 1, 0x06, 4};              // SEI: goes with the slices
  Bytes idr(1000, 0xAB);
  idr[0] = 0x65;
  append(stream, Bytes{0, 0, 0, 1});
  append(stream, idr);

  const H264Frame frame = sortUnits(stream);
  EXPECT_EQ(Bytes(frame.sps.begin(), frame.sps.end()), (Bytes{0x67, 2}));
  EXPECT_EQ(Bytes(frame.pps.begin(), frame.pps.end()), (Bytes{0x68, 3}));
  Bytes expected = {0, 0, 0, 2, 0x06, 4, 0x00, 0x00, 0x03, 0xE8};
  append(expected, idr);
  EXPECT_EQ(frame.sample, expected);
}

TEST(SortUnits, SlicesAloneHaveNoParameterSets) {
  const H264Frame frame = sortUnits(Bytes{0, 0, 0, 1, 0x41, 9, 9});
  EXPECT_TRUE(frame.sps.empty());
  EXPECT_TRUE(frame.pps.empty());
  EXPECT_EQ(frame.sample, (Bytes{0, 0, 0, 3, 0x41, 9, 9}));
}

}  // namespace
}  // namespace plimo
