#include "protocol/wire/RxFrame.h"

#include "protocol/wire/FrameChunk.h"

namespace plimo {

bool RxFrame::store(uint16_t index, ByteView payload) {
  if (got[index]) return false;
  got[index] = true;
  chunks.emplace(index, Bytes(payload.begin(), payload.end()));
  ++have;
  bytes += payload.size();
  return true;
}

Bytes RxFrame::join() const {
  Bytes out;
  out.reserve(bytes);
  for (const auto& [index, payload] : chunks) append(out, payload);
  return out;
}

Bytes RxFrame::nack(uint32_t frameID) const {
  std::vector<uint16_t> missing;
  for (size_t i = 0; i < count && missing.size() < FrameChunk::kMaxNackIndices; ++i) {
    if (!got[i]) missing.push_back(uint16_t(i));
  }
  return FrameChunk::nack(frameID, missing);
}

}  // namespace plimo
