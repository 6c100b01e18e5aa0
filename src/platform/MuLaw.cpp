#include "platform/MuLaw.h"

#include <algorithm>
#include <cmath>

namespace plimo {

uint8_t muLawByte(float sample) {
  constexpr int kBias = 132;
  constexpr int kClip = 32635;
  int v = (sample >= 1.0f || std::isnan(sample)) ? 32767 : int(std::max(sample, -1.0f) * 32767.0f);
  int sign = 0;
  int m;
  if (v < 0) {
    sign = 0x80;
    m = std::min(-v, kClip) + kBias;
  } else {
    m = std::min(v, kClip) + kBias;
  }
  int exponent = 0;
  for (int bit = 14; bit >= 8; --bit) {
    if (m & (1 << bit)) {
      exponent = bit - 7;
      break;
    }
  }
  int mantissa = (m >> (exponent + 3)) & 0x0F;
  return uint8_t(~(sign | exponent << 4 | mantissa));
}

const std::array<float, 256>& muLawTable() {
  static const std::array<float, 256> table = [] {
    std::array<float, 256> t{};
    for (int byte = 0; byte < 256; ++byte) {
      int u = ~byte & 0xFF;
      int mantissa = u & 0x0F;
      int exponent = (u >> 4) & 0x07;
      int linear = ((mantissa * 8 + 132) << exponent) - 132;
      if (u & 0x80) linear = -linear;
      t[size_t(byte)] = float(linear) / 32768.0f;
    }
    return t;
  }();
  return table;
}

std::vector<Bytes> packSound(std::vector<float>& buffer, std::span<const float> more) {
  buffer.insert(buffer.end(), more.begin(), more.end());
  std::vector<Bytes> packets;
  size_t used = 0;
  while (buffer.size() - used >= kSoundPacketSamples) {
    Bytes packet(kSoundPacketSamples);
    for (size_t i = 0; i < kSoundPacketSamples; ++i) packet[i] = muLawByte(buffer[used + i]);
    packets.push_back(std::move(packet));
    used += kSoundPacketSamples;
  }
  buffer.erase(buffer.begin(), buffer.begin() + long(used));
  return packets;
}

}  // namespace plimo
