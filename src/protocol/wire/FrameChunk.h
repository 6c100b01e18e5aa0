#pragma once
// Wire format of frame transfer: chunk packets (host → viewer) and the
// acknowledgements and negative acknowledgements the viewer sends back.
//
// Chunk: type (0x8B windowed, 0x81 single-frame), u32 frame ID (first is 1),
// u16 index, u16 count (≥ 1), windowed only: u32 ID of the oldest frame the
// sender still holds; then bytes [index × 1200, +1200) of the frame.
// Ack: 0x82, u32 frame ID. Nack: 0x83, u32 frame ID, u16 n ≤ 500, n × u16
// missing indices ascending. All little-endian.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/Bytes.h"

namespace plimo::FrameChunk {

inline constexpr size_t kPayload = 1200;
inline constexpr size_t kWindowedHeader = 13;
inline constexpr size_t kSingleHeader = 9;
inline constexpr size_t kNackHeader = 7;
// Keeps a negative acknowledgement at 1007 bytes, inside one datagram.
inline constexpr size_t kMaxNackIndices = 500;
inline constexpr size_t kMaxChunks = 65535;

struct Chunk {
  uint32_t frameID = 0;
  uint16_t index = 0;
  uint16_t count = 0;
  uint32_t oldest = 0;  // windowed only
  ByteView payload;
};

// A chunk of the given variant, or nothing when it is malformed: too short,
// another type, frame ID 0, count 0, index not below the count, or a payload
// whose length does not fit its place (every chunk but the last carries
// exactly 1200 bytes, the last 1 to 1200, or none in a one-chunk frame).
std::optional<Chunk> parse(ByteView packet, bool windowed);

Bytes ack(uint32_t frameID);
// The missing indices must be ascending; at most kMaxNackIndices are written.
Bytes nack(uint32_t frameID, const std::vector<uint16_t>& missing);

}  // namespace plimo::FrameChunk
