// The decoder: round trips of desktop pictures through our encoder, the rules
// for building and rebuilding its session, a stream made by the ffmpeg
// command line, and bad input.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/H264Units.h"
#include "platform/ffmpeg/H264Decoder.h"
#include "platform/ffmpeg/H264Encoder.h"
#include "video/VideoKit.h"

namespace plimo {
namespace {

using videokit::next;
using Script = SyntheticDesktop::Script;

// libavcodec explains every damaged unit of the bad-input cases on stderr.
const int quiet = (av_log_set_level(AV_LOG_QUIET), 0);

// The units of `stream` whose type is in `types`, each behind a start code.
Bytes unitsOfType(ByteView stream, std::initializer_list<int> types) {
  Bytes out;
  for (ByteView unit : nalUnits(stream)) {
    if (std::find(types.begin(), types.end(), unit[0] & 0x1F) == types.end()) continue;
    append(out, Bytes{0, 0, 0, 1});
    append(out, unit);
  }
  return out;
}

// A few pictures of a small desktop: a key frame, then ordinary ones.
std::vector<Bytes> smallStream(int width, int height, int count) {
  H264Encoder encoder(width, height, 30);
  SyntheticDesktop desktop(Script::busy, width, height);
  std::vector<Bytes> frames;
  for (int i = 0; i < count; ++i) frames.push_back(encoder.encode(next(desktop), i == 0));
  return frames;
}

// Text stays readable. Measured on the synthetic desktop at 1080p: the first
// key frame comes back at 34.5 dB at 60 pictures a second (38.6 dB at 30),
// and the pictures after it climb to about 41 dB as the unused bit rate
// refines them. Below about 30 dB the letters of an 8 × 16 font smear.
constexpr double kMinPsnr = 32;

TEST(H264Decoder, DesktopPicturesComeBackReadable) {
  const std::pair<Script, int> cases[] = {{Script::typing, 60}, {Script::scrolling, 60}, {Script::busy, 30}};
  for (auto [script, fps] : cases) {
    H264Encoder encoder(1920, 1080, fps);
    H264Decoder decoder;
    SyntheticDesktop desktop(script);
    double worst = 99;
    for (int i = 0; i < 8; ++i) {
      const Picture original = next(desktop);
      const PictureRef decoded = decoder.decode(encoder.encode(original, i == 0));
      ASSERT_TRUE(decoded) << SyntheticDesktop::name(script) << " picture " << i;
      ASSERT_EQ(decoded->width, 1920);
      ASSERT_EQ(decoded->height, 1080);
      ASSERT_EQ(decoded->stride, 1920 * 4);
      worst = std::min(worst, videokit::psnr(original, *decoded));
    }
    EXPECT_GE(worst, kMinPsnr) << SyntheticDesktop::name(script) << " at " << fps;
    std::printf("PSNR %s %d fps: worst %.1f dB\n", std::string(SyntheticDesktop::name(script)).c_str(), fps, worst);
    EXPECT_FALSE(decoder.hardware());
  }
}

// The encoder converts only the rows that changed: a small change anywhere,
// the short band at the bottom included, must reach the viewer, and so must
// its undoing.
TEST(H264Decoder, SmallChangesAnywhereComeThrough) {
  const int width = 640, height = 360;  // 22 bands of 16 rows and one of 8
  H264Encoder encoder(width, height, 30);
  H264Decoder decoder;
  SyntheticDesktop desktop(Script::still, width, height);
  const Picture still = next(desktop);
  ASSERT_TRUE(decoder.decode(encoder.encode(still, true)));
  auto brightness = [](const Picture& picture, int x0, int y0) {
    int sum = 0;
    for (int y = y0; y < y0 + 6; ++y)
      for (int x = x0; x < x0 + 6; ++x) sum += picture.row(y)[x * 4 + 1];
    return sum / 36;
  };
  for (auto [x0, y0] : {std::pair{300, 354}, std::pair{20, 0}, std::pair{600, 181}}) {
    const int before = brightness(still, x0, y0);
    const uint8_t mark = before > 128 ? 0 : 255;  // the spot turns black or white
    Picture marked = still;
    for (int y = y0; y < y0 + 6; ++y) std::memset(marked.row(y) + x0 * 4, mark, 6 * 4);
    PictureRef shown;
    for (int i = 0; i < 10; ++i) shown = decoder.decode(encoder.encode(marked, false));
    ASSERT_TRUE(shown);
    EXPECT_NEAR(brightness(*shown, x0, y0), mark, 40) << x0 << "," << y0;
    for (int i = 0; i < 10; ++i) shown = decoder.decode(encoder.encode(still, false));
    ASSERT_TRUE(shown);
    EXPECT_NEAR(brightness(*shown, x0, y0), before, 20) << x0 << "," << y0;
  }
}

TEST(H264Decoder, ParameterSetsAloneBuildTheSessionAndGiveNoPicture) {
  const std::vector<Bytes> frames = smallStream(320, 240, 3);
  H264Decoder decoder;
  Bytes setsOnly = {0, 0, 0, 1, 0x09, 0x10};  // access unit delimiter
  append(setsOnly, unitsOfType(frames[0], {7, 8}));
  EXPECT_EQ(decoder.decode(setsOnly), nullptr);
  EXPECT_EQ(decoder.sessionsBuilt(), 1);
  // The session is there: the key frame's slices now decode alone.
  const PictureRef picture = decoder.decode(unitsOfType(frames[0], {5}));
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->width, 320);
  EXPECT_EQ(decoder.sessionsBuilt(), 1);
}

TEST(H264Decoder, RepeatedParameterSetsKeepTheSession) {
  H264Encoder encoder(640, 360, 30);
  SyntheticDesktop desktop(Script::typing, 640, 360);
  H264Decoder decoder;
  for (int i = 0; i < 9; ++i) {
    ASSERT_TRUE(decoder.decode(encoder.encode(next(desktop), i % 3 == 0))) << i;
  }
  EXPECT_EQ(decoder.sessionsBuilt(), 1);
}

TEST(H264Decoder, ChangedParameterSetsRebuildBeforeTheSlices) {
  H264Decoder decoder;
  for (const Bytes& frame : smallStream(640, 360, 2)) ASSERT_TRUE(decoder.decode(frame));
  const std::vector<Bytes> other = smallStream(320, 240, 2);
  const PictureRef picture = decoder.decode(other[0]);
  ASSERT_TRUE(picture);
  EXPECT_EQ(decoder.sessionsBuilt(), 2);
  EXPECT_EQ(picture->width, 320);
  EXPECT_EQ(picture->height, 240);
  EXPECT_TRUE(decoder.decode(other[1]));
}

TEST(H264Decoder, SlicesBeforeAnyParameterSetsGiveNothing) {
  const std::vector<Bytes> frames = smallStream(320, 240, 3);
  H264Decoder decoder;
  EXPECT_EQ(decoder.decode(frames[1]), nullptr);
  EXPECT_EQ(decoder.decode(unitsOfType(frames[0], {5})), nullptr);  // a key frame's slices without its sets
  EXPECT_EQ(decoder.sessionsBuilt(), 0);
  EXPECT_TRUE(decoder.decode(frames[0]));
}

TEST(H264Decoder, ShortStartCodesDecodeTheSame) {
  const std::vector<Bytes> frames = smallStream(320, 240, 4);
  H264Decoder longCodes, shortCodes;
  for (const Bytes& frame : frames) {
    const PictureRef a = longCodes.decode(frame);
    const PictureRef b = shortCodes.decode(videokit::withShortStartCodes(frame));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->pixels, b->pixels);
  }
}

TEST(H264Decoder, PictureMemoryIsReusedOnlyOnceReleased) {
  const std::vector<Bytes> frames = smallStream(320, 240, 3);
  H264Decoder decoder;
  PictureRef first = decoder.decode(frames[0]);
  const Bytes kept = first->pixels;
  PictureRef second = decoder.decode(frames[1]);
  EXPECT_NE(first.get(), second.get());
  EXPECT_EQ(first->pixels, kept);  // still held: untouched
  const Picture* reusable = second.get();
  second.reset();
  EXPECT_EQ(decoder.decode(frames[2]).get(), reusable);
}

// A stream made by the ffmpeg command line: the High profile of the default
// preset, 3-byte start codes inside pictures, delimiters, SEI.
TEST(H264Decoder, DecodesTheFfmpegCommandLinesStream) {
  if (!videokit::run("ffmpeg -version").ok) GTEST_SKIP() << "ffmpeg is not installed";
  const auto dir = std::filesystem::temp_directory_path() / ("plimo-video-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string stream = (dir / "cli.h264").string(), raw = (dir / "cli.bgra").string();
  const int width = 640, height = 360, count = 10;
  ASSERT_TRUE(videokit::run("ffmpeg -v error -y -f lavfi -i testsrc2=size=640x360:rate=30 -frames:v 10 "
                            "-c:v libx264 -bf 0 -g 4 -pix_fmt yuv420p -x264-params aud=1 -f h264 '" +
                            stream + "'")
                  .ok);
  ASSERT_TRUE(
      videokit::run("ffmpeg -v error -y -f h264 -i '" + stream + "' -f rawvideo -pix_fmt bgra '" + raw + "'").ok);
  std::ifstream streamFile(stream, std::ios::binary), rawFile(raw, std::ios::binary);
  const Bytes data{std::istreambuf_iterator<char>(streamFile), {}};
  const Bytes reference{std::istreambuf_iterator<char>(rawFile), {}};
  std::filesystem::remove_all(dir);
  ASSERT_EQ(reference.size(), size_t(width) * height * 4 * count);

  // One frame per access unit: cut before every delimiter.
  std::vector<size_t> cuts;
  for (size_t i = 0; i + 4 < data.size(); ++i)
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 0 && data[i + 3] == 1 && (data[i + 4] & 0x1F) == 9)
      cuts.push_back(i);
  cuts.push_back(data.size());
  ASSERT_EQ(cuts.size(), size_t(count) + 1);

  H264Decoder decoder;
  for (int i = 0; i < count; ++i) {
    const PictureRef picture = decoder.decode(ByteView(data).subspan(cuts[i], cuts[i + 1] - cuts[i]));
    ASSERT_TRUE(picture) << "frame " << i;
    ASSERT_EQ(picture->width, width);
    ASSERT_EQ(picture->height, height);
    Picture expected(width, height);
    std::copy_n(reference.begin() + ptrdiff_t(expected.pixels.size()) * i, expected.pixels.size(),
                expected.pixels.begin());
    // The same decoded picture; only the colour conversions may round apart.
    EXPECT_GE(videokit::psnr(expected, *picture), 40) << "frame " << i;
  }
  EXPECT_EQ(decoder.sessionsBuilt(), 1);
}

// Writes an H.264 bit string, exp-Golomb codes included, and closes it as a
// NAL unit (stop bit, emulation prevention).
struct BitWriter {
  Bytes bits;
  void u(int count, uint32_t value) {
    for (int i = count - 1; i >= 0; --i) bits.push_back(uint8_t((value >> i) & 1));
  }
  void ue(uint32_t value) {
    const uint32_t v = value + 1;
    int length = 0;
    while ((v >> length) > 1) ++length;
    u(length, 0);
    u(length + 1, v);
  }
  Bytes unit(uint8_t header) {
    bits.push_back(1);
    while (bits.size() % 8) bits.push_back(0);
    Bytes out = {0, 0, 0, 1, header};
    int zeros = 0;
    for (size_t i = 0; i < bits.size(); i += 8) {
      uint8_t byte = 0;
      for (size_t b = 0; b < 8; ++b) byte = uint8_t(byte << 1 | bits[i + b]);
      if (zeros >= 2 && byte <= 3) {
        out.push_back(3);
        zeros = 0;
      }
      out.push_back(byte);
      zeros = byte == 0 ? zeros + 1 : 0;
    }
    return out;
  }
};

// An SPS (Baseline, level 5.1) claiming mbWidth × mbHeight macroblocks, a PPS
// and the start of an IDR slice with garbage macroblocks.
Bytes claimedSize(uint32_t mbWidth, uint32_t mbHeight) {
  BitWriter sps;
  sps.u(8, 66);
  sps.u(8, 0);
  sps.u(8, 51);
  sps.ue(0);             // sps id
  sps.ue(0);             // log2 max frame num - 4
  sps.ue(2);             // picture order count type
  sps.ue(1);             // reference frames
  sps.u(1, 0);           // no gaps
  sps.ue(mbWidth - 1);
  sps.ue(mbHeight - 1);
  sps.u(1, 1);           // frames only
  sps.u(1, 1);           // direct 8x8 inference
  sps.u(1, 0);           // no cropping
  sps.u(1, 0);           // no VUI
  BitWriter pps;
  pps.ue(0);             // pps id
  pps.ue(0);             // sps id
  pps.u(1, 0);           // CAVLC
  pps.u(1, 0);
  pps.ue(0);             // one slice group
  pps.ue(0);
  pps.ue(0);
  pps.u(1, 0);
  pps.u(2, 0);
  pps.ue(0);             // qp 26 (se 0)
  pps.ue(0);
  pps.ue(0);
  pps.u(1, 1);           // deblocking control present
  pps.u(1, 0);
  pps.u(1, 0);
  BitWriter slice;
  slice.ue(0);           // first macroblock
  slice.ue(7);           // I slice
  slice.ue(0);           // pps id
  slice.u(4, 0);         // frame number
  slice.ue(0);           // idr picture id
  slice.u(1, 0);
  slice.u(1, 0);
  slice.ue(0);           // qp delta
  slice.ue(1);           // no deblocking
  for (int i = 0; i < 200; ++i) slice.u(8, 0xA5);
  Bytes out = sps.unit(0x67);
  append(out, pps.unit(0x68));
  append(out, slice.unit(0x65));
  return out;
}

// Each bad input ends in a Failure, nothing, or a picture no larger than the
// stream could honestly claim; never a crash (the sanitizers watch) or an
// allocation of the claimed size.
void decodeBad(H264Decoder& decoder, ByteView data) {
  try {
    const PictureRef picture = decoder.decode(data);
    if (picture) {
      EXPECT_LE(int64_t(picture->width) * picture->height, 8192 * 4320);
    }
  } catch (const Failure&) {
  }
}

TEST(H264Decoder, HugeClaimedSizesAreRefused) {
  for (auto [w, h] : {std::pair{4096u, 4096u}, std::pair{512u, 512u}}) {  // 65536² and 8192²
    H264Decoder decoder;
    try {
      EXPECT_EQ(decoder.decode(claimedSize(w, h)), nullptr) << w * 16 << " x " << h * 16;
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.kind(), Failure::Kind::h264Decode);
      EXPECT_EQ(failure.text(), "decode(" + std::to_string(failure.code()) + ")");
    }
  }
  // The same unit writer makes a size the decoder takes: the refusal above is the size's.
  H264Decoder decoder;
  decodeBad(decoder, claimedSize(20, 15));
  EXPECT_EQ(decoder.sessionsBuilt(), 1);
}

TEST(H264Decoder, SurvivesRandomAndTruncatedInput) {
  std::mt19937 random(7);
  auto noise = [&](size_t size) {
    Bytes out(size);
    for (auto& b : out) b = uint8_t(random());
    return out;
  };
  {
    H264Decoder decoder;
    for (int i = 0; i < 200; ++i) decodeBad(decoder, noise(random() % 5000));
  }
  const std::vector<Bytes> frames = smallStream(320, 240, 3);
  const Bytes sets = unitsOfType(frames[0], {7, 8});
  for (int i = 0; i < 40; ++i) {  // good sets, random slices
    H264Decoder decoder;
    Bytes data = sets;
    append(data, Bytes{0, 0, 0, 1, uint8_t(i % 2 ? 0x65 : 0x41)});
    append(data, noise(random() % 3000));
    decodeBad(decoder, data);
  }
  for (size_t cut = 1; cut < frames[0].size(); cut += 331) {  // a key frame cut short
    H264Decoder decoder;
    decodeBad(decoder, ByteView(frames[0]).first(cut));
    decodeBad(decoder, frames[1]);
  }
  for (int i = 0; i < 20; ++i) {  // bytes of a good stream flipped
    H264Decoder decoder;
    for (Bytes frame : frames) {
      for (int k = 0; k < 5; ++k) frame[random() % frame.size()] ^= uint8_t(1 + random() % 255);
      decodeBad(decoder, frame);
    }
  }
}

}  // namespace
}  // namespace plimo
