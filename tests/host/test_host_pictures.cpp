// Pictures, input and sound end to end: the host session on the scripted
// screen and the recording sink, against a viewer made of the channel
// objects over an in-memory link that loses, repeats and reorders packets.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "HostRig.h"
#include "platform/MuLaw.h"
#include "platform/fake/SyntheticDesktop.h"
#include "platform/ffmpeg/H264Decoder.h"
#include "video/VideoKit.h"
#include "viewer/TileCanvas.h"

using namespace plimo;
using namespace plimo::testkit;

namespace {

constexpr int kW = 640, kH = 360;
const LossyLink::Options kLossy{.drop = 0.03, .duplicate = 0.02, .reorder = 0.05, .delay = 0.005, .seed = 7};

struct Pictures : ::testing::Test {
  HostRig rig{kLossy};
  SyntheticDesktop desktop{SyntheticDesktop::Script::typing, kW, kH};

  void SetUp() override {
    rig.platform.screens = {{1, {0, 0, kW, kH}, true}};
    rig.platform.pictureSize = {kW, kH};
    rig.make(true);
  }
  // Shows `count` pictures, one every 1/60 s, then lets the link settle.
  void play(int count) {
    for (int i = 0; i < count; ++i) {
      rig.platform.screen->showNext(desktop);
      rig.loop.advance(1.0 / 60);
    }
    rig.loop.advance(1.0);
  }
};

}  // namespace

TEST_F(Pictures, TilesRebuildTheDesktopPixelForPixel) {
  rig.post(11, Bytes{0x02});  // windowed transfer, no video
  rig.loop.advance(2.05);
  play(90);
  ASSERT_FALSE(rig.pictures.empty());
  TileCanvas canvas;
  for (auto& blob : rig.pictures) {
    ASSERT_EQ(blob[0], 0x00);
    canvas.apply(ByteView(blob).subspan(1));
  }
  ASSERT_EQ(canvas.width(), kW);
  ASSERT_TRUE(std::equal(canvas.pixels().begin(), canvas.pixels().end(), desktop.picture().begin()));
  EXPECT_EQ(rig.session->rendering(), Rendering::tiles);
  EXPECT_GT(rig.link.stats(LossyLink::End::a).dropped, 0u);
}

TEST_F(Pictures, VideoDecodesCloseToTheDesktop) {
  rig.post(11, Bytes{0x03});  // video, windowed
  rig.loop.advance(2.05);
  play(60);
  ASSERT_FALSE(rig.pictures.empty());
  H264Decoder decoder;
  PictureRef last;
  for (auto& blob : rig.pictures) {
    ASSERT_EQ(blob[0], 0x01);
    EXPECT_EQ(readLE<uint16_t>(blob, 1), kW);
    EXPECT_EQ(readLE<uint16_t>(blob, 3), kH);
    if (auto p = decoder.decode(ByteView(blob).subspan(5))) last = p;
  }
  ASSERT_TRUE(last);
  EXPECT_GE(videokit::psnr(videokit::pictureOf(desktop), *last), 32.0);
  EXPECT_EQ(rig.session->rendering(), Rendering::videoSoftware);
  EXPECT_TRUE(rig.logged("[host] video encoded in software"));
}

TEST_F(Pictures, AnUnchangedScreenSendsNothingMore) {
  rig.post(11, Bytes{0x02});
  rig.loop.advance(2.05);
  play(1);
  const size_t after = rig.pictures.size();
  EXPECT_GE(after, 1u);
  rig.loop.advance(5);
  EXPECT_EQ(rig.pictures.size(), after);
  rig.raw(Bytes{0x86});  // the viewer asks for a complete picture
  rig.loop.advance(0.5);
  EXPECT_GT(rig.pictures.size(), after);
}

TEST_F(Pictures, ALegacyFrameUnacknowledgedForTwoSecondsIsDroppedForACompletePicture) {
  rig.loop.advance(2.05);  // legacy transfer: nothing announced
  rig.link.setOptions({.delay = 0.005});
  rig.link.setFilter([](LossyLink::End from, ByteView p) { return !(from == LossyLink::End::b && p[0] == 0x82); });
  rig.platform.screen->showNext(desktop);
  rig.loop.advance(1.9);
  EXPECT_EQ(rig.pictures.size(), 1u);
  EXPECT_EQ(rig.session->framesInFlight(), 1u);
  rig.loop.advance(0.2);
  ASSERT_EQ(rig.pictures.size(), 2u);  // the same still screen, sent whole again
  auto header = TileCanvas::peekHeader(ByteView(rig.pictures[1]).subspan(1));
  ASSERT_TRUE(header);
  EXPECT_EQ(header->count, 60);  // every one of the 10 × 6 tiles: a full sweep
}

TEST_F(Pictures, CapabilityChangesDropWaitingFramesOnlyWhenTheTransferChanges) {
  rig.link.setOptions({.delay = 0.005});
  rig.link.setFilter([](LossyLink::End from, ByteView p) { return !(from == LossyLink::End::b && p[0] == 0x82); });
  rig.post(11, Bytes{0x02});
  rig.loop.advance(2.05);
  for (int i = 0; i < 6; ++i) {
    rig.platform.screen->showNext(desktop);
    rig.loop.advance(0.02);
  }
  EXPECT_EQ(rig.session->framesInFlight(), 4u);
  rig.post(11, Bytes{0x03});  // video on, same transfer: nothing dropped
  rig.loop.advance(0.03);
  EXPECT_EQ(rig.session->framesInFlight(), 4u);
  EXPECT_TRUE(rig.logged("[host] helper can show H.264: true"));
  rig.post(11, Bytes{0x01});  // back to the single-frame transfer: waiting frames go
  rig.loop.advance(0.03);
  EXPECT_LE(rig.session->framesInFlight(), 1u);
}

TEST_F(Pictures, StatisticsAreLoggedEveryTenSecondsOnlyWhenPicturesWent) {
  rig.post(11, Bytes{0x02});
  rig.loop.advance(2.05);
  play(1);
  rig.loop.advance(30);
  int lines = 0;
  for (auto& l : rig.logs) lines += l.find("pictures/s") != std::string::npos;
  EXPECT_EQ(lines, 1);
}

TEST_F(Pictures, InputReachesTheSinkInOrderAcrossLoss) {
  for (int i = 0; i < 200; ++i) rig.input.add(InputEvent::move, i % kW, i % kH, 0);
  rig.loop.advance(2.05);
  for (int round = 0; round < 200 && !rig.input.pending().empty(); ++round) {
    if (auto p = rig.input.packet()) rig.link.send(LossyLink::End::b, *p);
    rig.loop.advance(0.03);
  }
  ASSERT_EQ(rig.platform.input->events.size(), 200u);
  for (int i = 0; i < 200; ++i)
    EXPECT_EQ(rig.platform.input->events[size_t(i)], "move " + std::to_string(i % kW) + "," + std::to_string(i % kH));
}

TEST_F(Pictures, ASineToneKeepsItsPitchThroughTheSoundPath) {
  rig.post(12, Bytes{1});
  rig.loop.advance(2.05);
  constexpr double kHz = 440;
  std::vector<float> tone(kSoundRate);  // one second
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = float(0.5 * std::sin(2 * std::numbers::pi * kHz * double(i) / kSoundRate));
  for (size_t at = 0; at < tone.size(); at += 160) {
    rig.platform.sound->feed(std::span(tone).subspan(at, 160));
    rig.loop.advance(0.01);
  }
  rig.loop.advance(0.5);
  // Packets lost on the way leave gaps; count rises within each packet.
  ASSERT_GT(rig.audio.size(), 40u);
  int rises = 0;
  size_t samples = 0;
  for (auto& packet : rig.audio) {
    ASSERT_EQ(packet.size(), 325u);
    float previous = muLawTable()[packet[5]];
    for (size_t i = 6; i < packet.size(); ++i) {
      float s = muLawTable()[packet[i]];
      rises += previous < 0 && s >= 0;
      previous = s;
    }
    samples += 320;
  }
  const double hz = rises * double(kSoundRate) / double(samples);
  EXPECT_NEAR(hz, kHz, 25);
}

// A desktop that asks its person first (Wayland's portal) names its screens
// only once they are shared: the helper's choice counts in the list it was
// sent then, not in the one known before.
TEST(PicturesOfADesktopThatAsks, TheScreenTheHelperPicksIsTheOneItWasShown) {
  HostRig rig;
  rig.platform.screens = {{1, {0, 0, kW, kH}, true}};
  rig.platform.sharedScreens = {{7, {0, 0, kW, kH}, true}, {8, {kW, 0, kW, kH}, false}};
  rig.platform.pictureSize = {kW, kH};
  rig.make(true);
  rig.post(MsgKind::capabilities, Bytes{0x02});
  rig.loop.advance(2.05);
  ASSERT_TRUE(rig.platform.screen->display());
  EXPECT_EQ(rig.platform.screen->display()->id, 7u);
  rig.post(MsgKind::showMonitor, Bytes{1});
  rig.loop.advance(0.5);
  EXPECT_EQ(rig.platform.screen->display()->id, 8u);
}
