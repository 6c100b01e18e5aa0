#pragma once
// 8-bit G.711 μ-law: the sound format between host and viewer (16 kHz mono,
// one byte a sample, 320-byte packets of 20 ms).

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "core/Bytes.h"

namespace plimo {

// Samples in one sound packet: 20 ms at 16 kHz.
constexpr size_t kSoundPacketSamples = 320;
constexpr int kSoundRate = 16000;

// One float sample (−1…1; NaN and ≥ 1 count as full scale) as a μ-law byte.
uint8_t muLawByte(float sample);

// μ-law byte → sample: 0xFF is 0.0, 0x00 is −32124/32768.
const std::array<float, 256>& muLawTable();

// Appends `more` to `buffer` and takes out every full packet, oldest first;
// fewer than 320 samples stay in `buffer`.
std::vector<Bytes> packSound(std::vector<float>& buffer, std::span<const float> more);

}  // namespace plimo
