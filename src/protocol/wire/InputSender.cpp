#include "protocol/wire/InputSender.h"

#include <algorithm>
#include <cstdlib>

#include "protocol/wire/ChannelMsg.h"

namespace plimo {

const InputEvent& InputSender::add(uint8_t kind, int x, int y, int32_t data) {
  pending_.push_back(InputEvent{nextSeq_, kind, InputEvent::clampCoordinate(x), InputEvent::clampCoordinate(y), data});
  // A wrapped counter would make the host skip every later event.
  if (++nextSeq_ == 0) std::abort();
  return pending_.back();
}

std::optional<Bytes> InputSender::packet() const {
  if (pending_.empty()) return std::nullopt;
  const size_t n = std::min(kMaxPerPacket, pending_.size());
  Bytes out;
  out.reserve(2 + n * InputEvent::kSize);
  out.push_back(SessionPacket::kInput);
  out.push_back(uint8_t(n));
  for (size_t i = 0; i < n; ++i) pending_[i].appendTo(out);
  return out;
}

void InputSender::handleAck(ByteView packet) {
  if (packet.size() < 5 || packet[0] != SessionPacket::kInputAck) return;
  const uint32_t applied = readLE32(packet, 1);
  while (!pending_.empty() && pending_.front().seq <= applied) pending_.pop_front();
}

}  // namespace plimo
