// The encoder's stream: where parameter sets go, its start codes, its stamps,
// what an independent decoder (the ffprobe command line) makes of it, and
// pictures it must refuse.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/H264Units.h"
#include "platform/ffmpeg/H264Encoder.h"
#include "video/VideoKit.h"

namespace plimo {
namespace {

using videokit::next;

// libx264 reports every encoder it opens and closes on stderr.
const int quiet = (av_log_set_level(AV_LOG_QUIET), 0);

std::vector<int> unitTypes(ByteView stream) {
  std::vector<int> types;
  for (ByteView unit : nalUnits(stream)) types.push_back(unit[0] & 0x1F);
  return types;
}

bool hasParameterSets(const std::vector<int>& types) {
  return std::find(types.begin(), types.end(), 7) != types.end() ||
         std::find(types.begin(), types.end(), 8) != types.end();
}

TEST(H264Encoder, ParameterSetsLeadFirstAndForcedPicturesOnly) {
  H264Encoder encoder(1920, 1080, 60);
  EXPECT_FALSE(encoder.hardware());  // no video hardware on the test machines
  SyntheticDesktop desktop(SyntheticDesktop::Script::busy);
  for (int i = 0; i < 10; ++i) {
    const bool forced = i == 0 || i == 6;
    const Bytes out = encoder.encode(next(desktop), forced);
    ASSERT_FALSE(out.empty()) << "picture " << i;
    const std::vector<int> types = unitTypes(out);
    if (forced) {
      ASSERT_GE(types.size(), 3u);
      EXPECT_EQ(types[0], 7) << "picture " << i;
      EXPECT_EQ(types[1], 8) << "picture " << i;
      EXPECT_NE(std::find(types.begin(), types.end(), 5), types.end()) << "an IDR slice, picture " << i;
    } else {
      EXPECT_FALSE(hasParameterSets(types)) << "picture " << i;
      EXPECT_EQ(std::find(types.begin(), types.end(), 5), types.end()) << "no IDR slice, picture " << i;
    }
    // Every unit behind the 4-byte start code, nothing else in between.
    Bytes rebuilt;
    for (ByteView unit : nalUnits(out)) {
      append(rebuilt, Bytes{0, 0, 0, 1});
      append(rebuilt, unit);
    }
    EXPECT_EQ(rebuilt, out) << "picture " << i;
    // Stamped n/30 s whatever the rate, and given back in input order.
    EXPECT_EQ(encoder.frameCount(), i + 1);
    EXPECT_EQ(encoder.lastPresentationTime(), i + 1);
  }
}

TEST(H264Encoder, KeyFrameAtLeastOnceAMinute) {
  H264Encoder encoder(64, 48, 2);  // 2 pictures a second: a key frame every 120
  SyntheticDesktop desktop(SyntheticDesktop::Script::busy, 64, 48);
  std::vector<int> keys;
  for (int i = 0; i < 250; ++i) {
    const std::vector<int> types = unitTypes(encoder.encode(next(desktop), i == 0));
    if (std::find(types.begin(), types.end(), 5) != types.end()) keys.push_back(i);
  }
  EXPECT_EQ(keys, (std::vector<int>{0, 120, 240}));
}

TEST(H264Encoder, IndependentDecoderSeesEveryPictureAndTheForcedKeys) {
  if (!videokit::run("ffprobe -version").ok) GTEST_SKIP() << "ffprobe is not installed";
  const int width = 1920, height = 1080, pictures = 12;
  const std::vector<int> forced = {0, 5, 9};
  H264Encoder encoder(width, height, 30);
  SyntheticDesktop desktop(SyntheticDesktop::Script::busy, width, height);
  const auto path = std::filesystem::temp_directory_path() / ("plimo-video-" + std::to_string(getpid()) + ".h264");
  {
    std::ofstream file(path, std::ios::binary);
    for (int i = 0; i < pictures; ++i) {
      const bool key = std::find(forced.begin(), forced.end(), i) != forced.end();
      const Bytes out = encoder.encode(next(desktop), key);
      file.write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size()));
    }
  }
  const auto frames = videokit::run(
      "ffprobe -v error -f h264 -show_entries frame=key_frame,width,height -of csv=p=0 '" + path.string() + "'");
  const auto stream = videokit::run("ffprobe -v error -f h264 -show_entries stream=profile,has_b_frames -of csv=p=0 '" +
                                    path.string() + "'");
  std::filesystem::remove(path);
  ASSERT_TRUE(frames.ok);
  std::istringstream lines(frames.output);
  std::string line;
  std::vector<int> keys;
  int count = 0;
  while (std::getline(lines, line)) {
    int key = 0, w = 0, h = 0;
    if (std::sscanf(line.c_str(), "%d,%d,%d", &key, &w, &h) != 3) continue;  // side data lines
    EXPECT_EQ(w, width);
    EXPECT_EQ(h, height);
    if (key) keys.push_back(count);
    ++count;
  }
  EXPECT_EQ(count, pictures);
  EXPECT_EQ(keys, forced);
  ASSERT_TRUE(stream.ok);
  EXPECT_EQ(stream.output, "Main,0\n");
}

TEST(H264Encoder, RefusesPicturesThatDoNotFit) {
  H264Encoder encoder(64, 48, 30);
  auto encodeFailure = [&](const Picture& picture) -> std::string {
    try {
      encoder.encode(picture, false);
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.kind(), Failure::Kind::h264Encode);
      EXPECT_EQ(failure.code(), -22);
      return failure.text();
    }
    return "no failure";
  };
  EXPECT_EQ(encodeFailure(Picture(64, 50)), "encode(-22)");  // another size
  Picture shortRows(64, 48);
  shortRows.stride = 64 * 4 - 4;
  EXPECT_EQ(encodeFailure(shortRows), "encode(-22)");
  Picture tooFewBytes(64, 48);
  tooFewBytes.pixels.resize(tooFewBytes.pixels.size() - 1);
  EXPECT_EQ(encodeFailure(tooFewBytes), "encode(-22)");

  // Rows with padding, as a capture with a wider stride delivers them.
  Picture padded;
  padded.width = 64;
  padded.height = 48;
  padded.stride = 64 * 4 + 32;
  padded.pixels.assign(size_t(padded.stride) * 48, 0x80);
  EXPECT_FALSE(encoder.encode(padded, true).empty());
}

TEST(H264Encoder, CreationFailureCarriesTheStatus) {
  for (auto [width, height] : {std::pair{0, 1080}, std::pair{1920, -2}}) {
    try {
      H264Encoder encoder(width, height, 30);
      ADD_FAILURE() << width << " x " << height << " opened";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.kind(), Failure::Kind::h264Create);
      EXPECT_EQ(failure.code(), -22);
      EXPECT_EQ(failure.text(), "create(-22)");
    }
  }
}

}  // namespace
}  // namespace plimo
