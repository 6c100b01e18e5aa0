#pragma once
// Splitting an H.264 Annex B byte stream into NAL units, and sorting one
// frame's units into parameter sets and the length-prefixed sample a decoder
// session takes. Platform-free; H264Decoder builds on it.

#include <vector>

#include "core/Bytes.h"

namespace plimo {

// The NAL units behind 3-byte (00 00 01) or 4-byte (00 00 00 01) start codes,
// as views into `data`. Bytes before the first start code are ignored, empty
// units left out, trailing zero bytes kept.
std::vector<ByteView> nalUnits(ByteView data);

enum class NalType : uint8_t { sps = 7, pps = 8, accessUnitDelimiter = 9 };

// One frame's units, sorted.
struct H264Frame {
  ByteView sps;  // the last sequence parameter set in the data (views into it)
  ByteView pps;  // the last picture parameter set
  Bytes sample;  // every other unit but delimiters: 32-bit big-endian length, unit
};

H264Frame sortUnits(ByteView data);

}  // namespace plimo
