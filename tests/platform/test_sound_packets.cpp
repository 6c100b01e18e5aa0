#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/MuLaw.h"
#include "platform/fake/NullSoundCapture.h"
#include "platform/fake/ScriptedScreen.h"

using namespace plimo;

TEST(MuLaw, EdgeValues) {
  EXPECT_EQ(muLawByte(1.0f), 0x80);
  EXPECT_EQ(muLawByte(-1.0f), 0x00);
  EXPECT_EQ(muLawByte(0.0f), 0xFF);
  EXPECT_EQ(muLawByte(5.0f), 0x80);    // clipped
  EXPECT_EQ(muLawByte(-5.0f), 0x00);
  EXPECT_EQ(muLawByte(std::numeric_limits<float>::quiet_NaN()), 0x80);
  EXPECT_EQ(muLawByte(1.0f / 32767.0f), 0xFF);  // too small to leave the first step
}

TEST(MuLaw, DecodedSoundStaysCloseToTheOriginal) {
  const auto& table = muLawTable();
  for (float s = -1.0f; s <= 1.0f; s += 0.001f) {
    float back = table[muLawByte(s)];
    // μ-law keeps about 3 % of the value (plus a small floor near zero).
    EXPECT_NEAR(back, s, std::fabs(s) * 0.035f + 0.0005f) << s;
  }
}

TEST(SoundPackets, FullPacketsOnlyAndAFewSamplesLeftOver) {
  NullSoundCapture screen;
  std::vector<Bytes> packets;
  screen.onAudio = [&](Bytes packet) { packets.push_back(std::move(packet)); };
  ASSERT_NO_THROW(screen.start());
  screen.setAudioOn(true);
  std::vector<float> samples(650);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = i < 320 ? 1.0f : -1.0f;
  screen.feed(std::span(samples).first(300));
  EXPECT_TRUE(packets.empty());
  screen.feed(std::span(samples).subspan(300, 350));
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_EQ(packets[0].size(), 320u);
  EXPECT_EQ(packets[1].size(), 320u);
  EXPECT_EQ(packets[0].front(), 0x80);
  EXPECT_EQ(packets[0].back(), 0x80);
  EXPECT_EQ(packets[1].front(), 0x00);
  EXPECT_EQ(screen.pendingSamples(), 10u);
}

TEST(SoundPackets, SwitchingSoundOffEmptiesTheBufferAndSendsNothing) {
  NullSoundCapture screen;
  int packets = 0;
  screen.onAudio = [&](Bytes) { ++packets; };
  ASSERT_NO_THROW(screen.start());
  screen.setAudioOn(true);
  std::vector<float> samples(300, 0.5f);
  screen.feed(samples);
  screen.setAudioOn(false);
  EXPECT_EQ(screen.pendingSamples(), 0u);
  screen.feed(samples);
  EXPECT_EQ(packets, 0);
  screen.setAudioOn(true);
  screen.feed(samples);  // only the new 300: still no packet
  EXPECT_EQ(packets, 0);
  screen.feed(std::vector<float>(20, 0.5f));
  EXPECT_EQ(packets, 1);
}

TEST(ScriptedScreen, StartFallsBackToTheFirstScreenAndKeepsSizesEven) {
  ScriptedScreen screen;
  screen.screens = {{7, {0, 0, 1471, 919}, false}, {8, {1471, 0, 800, 600}, true}};
  screen.pictureSize = {1471, 919};
  ASSERT_NO_THROW(screen.start({99, {}, false}, {42}));
  EXPECT_EQ(screen.display()->id, 7u);
  EXPECT_EQ(screen.slot.size(), (Size{1470, 918}));
  EXPECT_EQ(screen.excludedWindows(), std::vector<uint32_t>{42});
}

TEST(ScriptedScreen, ShowsTheSyntheticDesktopsPicturesOnlyWhileRunning) {
  ScriptedScreen screen;
  screen.screens = {{1, {0, 0, 320, 200}, true}};
  screen.pictureSize = {320, 200};
  SyntheticDesktop desktop(SyntheticDesktop::Script::typing, 320, 200);
  screen.showNext(desktop);
  EXPECT_FALSE(screen.slot.changed());
  ASSERT_NO_THROW(screen.start(screen.screens[0], {}));
  screen.showNext(desktop);
  PictureRef taken = screen.slot.take(false);
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->width, 320);
  EXPECT_TRUE(std::equal(taken->pixels.begin(), taken->pixels.end(), desktop.picture().begin()));
  EXPECT_FALSE(screen.slot.take(false));  // taken once
  EXPECT_EQ(screen.slot.take(true), taken);  // a complete picture wanted: the latest again
}
