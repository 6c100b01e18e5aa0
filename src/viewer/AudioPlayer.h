#pragma once
// Plays the partner's sound: 8-bit μ-law, mono, 16 kHz, packets in arrival
// order, no jitter buffer. The sound queued is capped so that it never lags
// the picture by more than about 0.3 s.
//
// Owner: the viewer session; its thread only. The sound output must outlive
// the player.

#include <cstdint>

#include "core/Bytes.h"
#include "platform/SoundOut.h"

namespace plimo {

class AudioPlayer {
 public:
  // 0.3 s at 16 kHz: with more than this queued, packets are dropped whole.
  static constexpr int64_t maxQueued = 4800;

  explicit AudioPlayer(SoundOut& out) : out_(out) {}

  // Queues one packet's samples; empty packets and packets arriving while
  // more than `maxQueued` samples wait are dropped.
  void play(ByteView packet);
  // Stops what is queued at once (muting); the next packet starts afresh.
  void flush();
  // Samples written and not yet played.
  int64_t queued() const { return out_.queued(); }

 private:
  SoundOut& out_;
};

}  // namespace plimo
