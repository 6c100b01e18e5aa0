#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/MuLaw.h"
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
  ScriptedScreen screen;
  screen.screens = {{1, {0, 0, 1920, 1080}, true}};
  std::vector<Bytes> packets;
  screen.onAudio = [&](Bytes packet) { packets.push_back(std::move(packet)); };
  ASSERT_NO_THROW(screen.start(screen.screens[0], true, {}));
  std::vector<float> samples(650);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = i < 320 ? 1.0f : -1.0f;
  screen.sound(std::span(samples).first(300));
  EXPECT_TRUE(packets.empty());
  screen.sound(std::span(samples).subspan(300, 350));
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_EQ(packets[0].size(), 320u);
  EXPECT_EQ(packets[1].size(), 320u);
  EXPECT_EQ(packets[0].front(), 0x80);
  EXPECT_EQ(packets[0].back(), 0x80);
  EXPECT_EQ(packets[1].front(), 0x00);
  std::lock_guard guard(screen.lock);
  EXPECT_EQ(screen.audioBuffer.size(), 10u);
}

TEST(SoundPackets, SwitchingSoundOffEmptiesTheBufferAndSendsNothing) {
  ScriptedScreen screen;
  screen.screens = {{1, {0, 0, 1920, 1080}, true}};
  int packets = 0;
  screen.onAudio = [&](Bytes) { ++packets; };
  ASSERT_NO_THROW(screen.start(screen.screens[0], true, {}));
  std::vector<float> samples(300, 0.5f);
  screen.sound(samples);
  screen.setAudioOn(false);
  {
    std::lock_guard guard(screen.lock);
    EXPECT_TRUE(screen.audioBuffer.empty());
  }
  screen.sound(samples);
  EXPECT_EQ(packets, 0);
  screen.setAudioOn(true);
  screen.sound(samples);  // only the new 300: still no packet
  EXPECT_EQ(packets, 0);
  screen.sound(std::vector<float>(20, 0.5f));
  EXPECT_EQ(packets, 1);
}

TEST(ScriptedScreen, StartFallsBackToTheFirstScreenAndKeepsSizesEven) {
  ScriptedScreen screen;
  screen.screens = {{7, {0, 0, 1471, 919}, false}, {8, {1471, 0, 800, 600}, true}};
  screen.pictureSize = {1471, 919};
  ASSERT_NO_THROW(screen.start({99, {}, false}, false, {42}));
  std::lock_guard guard(screen.lock);
  EXPECT_EQ(screen.display->id, 7u);
  EXPECT_EQ(screen.size, (Size{1470, 918}));
  EXPECT_EQ(screen.excludedWindows, std::vector<uint32_t>{42});
}

TEST(ScriptedScreen, ShowsTheSyntheticDesktopsPicturesOnlyWhileRunning) {
  ScriptedScreen screen;
  screen.screens = {{1, {0, 0, 320, 200}, true}};
  screen.pictureSize = {320, 200};
  SyntheticDesktop desktop(SyntheticDesktop::Script::typing, 320, 200);
  screen.showNext(desktop);
  {
    std::lock_guard guard(screen.lock);
    EXPECT_FALSE(screen.changed);
  }
  ASSERT_NO_THROW(screen.start(screen.screens[0], false, {}));
  screen.showNext(desktop);
  std::lock_guard guard(screen.lock);
  ASSERT_TRUE(screen.changed && screen.latest);
  EXPECT_EQ(screen.latest->width, 320);
  EXPECT_TRUE(std::equal(screen.latest->pixels.begin(), screen.latest->pixels.end(), desktop.picture().begin()));
}
