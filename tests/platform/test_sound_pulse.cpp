#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <numbers>
#include <thread>

#include "TestServers.h"
#include "platform/MuLaw.h"
#include "platform/linux/PulseSoundCapture.h"
#include "platform/linux/PulseSoundOut.h"
#include "viewer/AudioPlayer.h"

using namespace plimo;
using namespace plimo::testing;
using namespace std::chrono_literals;

TEST(SoundPulse, ASinePlayedIntoTheNullSinkComesOutOfTheCapturerAtItsPitch) {
  Xvfb x(640, 480);
  if (!x.running()) GTEST_SKIP() << "Xvfb is not installed or did not start";
  PulseServer pulse;
  if (!pulse.running()) GTEST_SKIP() << "PulseAudio is not installed or did not start";

  PulseSoundCapture capturer;
  std::mutex packetsLock;
  std::vector<Bytes> packets;
  capturer.onAudio = [&](Bytes packet) {
    std::lock_guard guard(packetsLock);
    packets.push_back(std::move(packet));
  };
  ASSERT_NO_THROW(capturer.start());
  capturer.setAudioOn(true);
  auto count = [&] {
    std::lock_guard guard(packetsLock);
    return packets.size();
  };
  // An idle null sink renders in blocks of up to 2 s; the tone starts once
  // the capture runs.
  auto until = std::chrono::steady_clock::now() + 5s;
  while (count() == 0 && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(5ms);
  ASSERT_GT(count(), 0u) << "no sound packets from the monitor";

  std::unique_ptr<PulseSoundOut> out;
  ASSERT_NO_THROW(out = PulseSoundOut::open());
  AudioPlayer player(*out);

  // 1.5 s of a 1 kHz tone at half scale, played as the viewer would: one
  // μ-law packet at a time, never more than the player's cap ahead.
  constexpr double kTone = 1000;
  std::vector<float> tone(kSoundRate * 3 / 2);
  for (size_t i = 0; i < tone.size(); ++i)
    tone[i] = float(0.5 * std::sin(2 * std::numbers::pi * kTone * double(i) / kSoundRate));
  std::vector<float> rest;
  std::vector<Bytes> sent = packSound(rest, tone);
  size_t next = 0;
  until = std::chrono::steady_clock::now() + 5s;
  while (next < sent.size() && std::chrono::steady_clock::now() < until) {
    if (player.queued() < 2400) {
      player.play(sent[next++]);
    } else {
      std::this_thread::sleep_for(2ms);
    }
  }
  // What is queued plays out and comes back: 0.5 s of packets more.
  size_t want = count() + 25;
  until = std::chrono::steady_clock::now() + 3s;
  while (count() < want && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(5ms);
  capturer.stop();

  // The captured sound, decoded with the player's table.
  std::vector<float> heard;
  {
    std::lock_guard guard(packetsLock);
    for (const auto& packet : packets) {
      ASSERT_EQ(packet.size(), 320u);
      for (uint8_t byte : packet) heard.push_back(muLawTable()[byte]);
    }
  }
  // The loud part: from the first to the last sample above a quarter.
  size_t first = 0, last = 0;
  for (size_t i = 0; i < heard.size(); ++i) {
    if (std::fabs(heard[i]) > 0.25f) {
      if (!first) first = i;
      last = i;
    }
  }
  ASSERT_GT(last - first, size_t(kSoundRate)) << "less than a second of the tone came back";
  // Pitch from the periods between rising zero crossings over the middle of
  // it; the median keeps a gap (an underrun on a loaded machine) from
  // counting. Crossings are placed between samples for sub-sample periods.
  size_t from = first + 1600, to = last - 1600;
  std::vector<double> rises;
  for (size_t i = from + 1; i < to; ++i) {
    if (heard[i - 1] < 0 && heard[i] >= 0) rises.push_back(double(i - 1) + heard[i - 1] / (heard[i - 1] - heard[i]));
  }
  ASSERT_GT(rises.size(), 100u);
  std::vector<double> periods;
  for (size_t i = 1; i < rises.size(); ++i) periods.push_back(rises[i] - rises[i - 1]);
  std::nth_element(periods.begin(), periods.begin() + long(periods.size() / 2), periods.end());
  double hz = kSoundRate / periods[periods.size() / 2];
  EXPECT_NEAR(hz, kTone, 5.0);
  RecordProperty("measured_hz", std::to_string(hz));
  double peak = 0;
  for (size_t i = from; i < to; ++i) peak = std::max(peak, double(std::fabs(heard[i])));
  EXPECT_NEAR(peak, 0.5, 0.1);
}
