#include "viewer/AudioPlayer.h"

#include <vector>

#include "platform/MuLaw.h"

namespace plimo {

void AudioPlayer::play(ByteView packet) {
  if (packet.empty() || out_.queued() > maxQueued) return;
  const auto& table = muLawTable();
  std::vector<float> samples(packet.size());
  for (size_t i = 0; i < packet.size(); ++i) samples[i] = table[packet[i]];
  out_.write(samples);
}

void AudioPlayer::flush() { out_.flush(); }

}  // namespace plimo
