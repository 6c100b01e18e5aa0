#pragma once
// Sound output that plays nothing: it keeps what was written, and the test
// says when samples have "played".

#include <vector>

#include "platform/SoundOut.h"

namespace plimo {

class NullSoundOut final : public SoundOut {
 public:
  void write(std::span<const float> samples) override;
  int64_t queued() override { return waiting; }
  void flush() override;

  // Marks up to `count` queued samples as played.
  void play(int64_t count);

  std::vector<float> written;  // every sample ever written, in order
  int64_t waiting = 0;
  int flushes = 0;
};

}  // namespace plimo
