#include "platform/fake/NullSoundOut.h"

#include <algorithm>

namespace plimo {

void NullSoundOut::write(std::span<const float> samples) {
  written.insert(written.end(), samples.begin(), samples.end());
  waiting += int64_t(samples.size());
}

void NullSoundOut::flush() {
  waiting = 0;
  ++flushes;
}

void NullSoundOut::play(int64_t count) { waiting -= std::min(count, waiting); }

}  // namespace plimo
