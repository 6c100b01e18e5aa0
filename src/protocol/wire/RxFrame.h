#pragma once
// One frame being reassembled by a viewer-side frame receiver.

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "core/Bytes.h"

namespace plimo {

struct RxFrame {
  explicit RxFrame(uint16_t chunkCount) : count(chunkCount), got(chunkCount, false) {}

  // Stores a new chunk; false for a duplicate, which changes nothing.
  bool store(uint16_t index, ByteView payload);
  // The chunks joined in index order; only meaningful once complete.
  Bytes join() const;
  // Negative acknowledgement listing the first missing indices.
  Bytes nack(uint32_t frameID) const;

  uint16_t count;
  // Held sparsely: a chunk count is the sender's claim, and memory should
  // follow what has arrived, not what was announced.
  std::map<uint16_t, Bytes> chunks;
  std::vector<bool> got;
  size_t have = 0;
  size_t bytes = 0;  // payload bytes held
  bool complete = false;
  double lastChunk = 0.0;  // uptime of the last chunk
  double lastNack = 0.0;   // uptime of the last negative acknowledgement, 0 for none
};

}  // namespace plimo
