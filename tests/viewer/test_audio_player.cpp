#include <gtest/gtest.h>

#include "platform/MuLaw.h"
#include "platform/fake/NullSoundOut.h"
#include "viewer/AudioPlayer.h"

using namespace plimo;

TEST(MuLawTable, EdgeValues) {
  const auto& table = muLawTable();
  EXPECT_EQ(table[0xFF], 0.0f);
  EXPECT_EQ(table[0x7F], 0.0f);  // the other zero
  EXPECT_EQ(table[0x80], 32124.0f / 32768.0f);
  EXPECT_EQ(table[0x00], -32124.0f / 32768.0f);
  // Every byte survives decoding and encoding again (the two zeros aside).
  for (int byte = 0; byte < 256; ++byte) {
    if (byte == 0x7F) continue;
    EXPECT_EQ(muLawByte(table[size_t(byte)] * 32768.0f / 32767.0f), byte) << byte;
  }
}

TEST(AudioPlayer, PlaysDecodedSamplesInOrder) {
  NullSoundOut out;
  AudioPlayer player(out);
  player.play(Bytes{});
  EXPECT_TRUE(out.written.empty());
  Bytes packet(320, 0xFF);
  packet[0] = 0x80;
  packet[319] = 0x00;
  player.play(packet);
  ASSERT_EQ(out.written.size(), 320u);
  EXPECT_EQ(player.queued(), 320);
  EXPECT_EQ(out.written[0], 32124.0f / 32768.0f);
  EXPECT_EQ(out.written[1], 0.0f);
  EXPECT_EQ(out.written[319], -32124.0f / 32768.0f);
  out.play(320);
  EXPECT_EQ(player.queued(), 0);
}

TEST(AudioPlayer, DropsWholePacketsAboveTheCapAndFlushEmpties) {
  NullSoundOut out;
  AudioPlayer player(out);
  Bytes packet(320, 0xFF);
  for (int i = 0; i < 15; ++i) player.play(packet);  // 4800 queued: exactly the cap
  EXPECT_EQ(player.queued(), 4800);
  player.play(Bytes(1, 0xFF));  // at the cap it still plays
  EXPECT_EQ(player.queued(), 4801);
  player.play(packet);  // above it the packet is dropped
  EXPECT_EQ(player.queued(), 4801);
  out.play(1);
  player.play(packet);
  EXPECT_EQ(player.queued(), 5120);
  player.flush();
  EXPECT_EQ(out.flushes, 1);
  EXPECT_EQ(player.queued(), 0);
  player.play(packet);
  EXPECT_EQ(player.queued(), 320);
}
