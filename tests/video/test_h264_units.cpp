// Platform-free parts of the video path: the bit-rate rule, splitting an
// Annex B stream, sorting a frame's units for the decoder.

#include <gtest/gtest.h>

#include "platform/H264BitRate.h"
#include "platform/H264Units.h"

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
