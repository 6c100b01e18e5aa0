#pragma once
// Sound playback: 16 kHz mono float samples played in the order written.
// Used from one thread (the viewer session's); the implementation may play on
// its own thread.

#include <cstdint>
#include <span>

namespace plimo {

class SoundOut {
 public:
  virtual ~SoundOut() = default;

  // Queues samples behind those already queued.
  virtual void write(std::span<const float> samples) = 0;
  // Samples written and not yet played. Never below the sound really waiting,
  // so a cap on it bounds the delay.
  virtual int64_t queued() = 0;
  // Drops everything queued at once.
  virtual void flush() = 0;
};

}  // namespace plimo
