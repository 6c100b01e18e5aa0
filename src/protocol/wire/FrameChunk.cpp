#include "protocol/wire/FrameChunk.h"

#include <algorithm>

#include "protocol/wire/ChannelMsg.h"

namespace plimo::FrameChunk {

std::optional<Chunk> parse(ByteView packet, bool windowed) {
  const size_t header = windowed ? kWindowedHeader : kSingleHeader;
  if (packet.size() < header) return std::nullopt;
  if (packet[0] != (windowed ? SessionPacket::kWindowedChunk : SessionPacket::kFrameChunk)) return std::nullopt;
  Chunk c;
  c.frameID = readLE32(packet, 1);
  c.index = readLE16(packet, 5);
  c.count = readLE16(packet, 7);
  if (windowed) c.oldest = readLE32(packet, 9);
  c.payload = packet.subspan(header);
  if (c.frameID == 0 || c.count == 0 || c.index >= c.count) return std::nullopt;
  const bool last = c.index == c.count - 1;
  const size_t size = c.payload.size();
  if (!last && size != kPayload) return std::nullopt;
  if (last && (size > kPayload || (size == 0 && c.count > 1))) return std::nullopt;
  return c;
}

Bytes ack(uint32_t frameID) {
  Bytes out{SessionPacket::kFrameAck};
  appendLE<uint32_t>(out, frameID);
  return out;
}

Bytes nack(uint32_t frameID, const std::vector<uint16_t>& missing) {
  const size_t n = std::min(missing.size(), kMaxNackIndices);
  Bytes out{SessionPacket::kFrameNack};
  out.reserve(kNackHeader + 2 * n);
  appendLE<uint32_t>(out, frameID);
  appendLE<uint16_t>(out, uint16_t(n));
  for (size_t i = 0; i < n; ++i) appendLE<uint16_t>(out, missing[i]);
  return out;
}

}  // namespace plimo::FrameChunk
