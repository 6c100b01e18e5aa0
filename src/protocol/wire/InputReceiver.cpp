#include "protocol/wire/InputReceiver.h"

#include "protocol/wire/ChannelMsg.h"
#include "protocol/wire/InputSender.h"

namespace plimo {

std::optional<Bytes> InputReceiver::handle(ByteView packet, bool allowed, const Apply& apply) {
  if (packet.size() < 2 || packet[0] != SessionPacket::kInput) return std::nullopt;
  const size_t n = packet[1];
  if (n == 0 || n > InputSender::kMaxPerPacket || packet.size() < 2 + n * InputEvent::kSize) return std::nullopt;
  for (size_t i = 0; i < n; ++i) {
    const InputEvent e = InputEvent::read(packet, 2 + i * InputEvent::kSize);
    // Repeats and events after a gap are skipped: the sender always sends
    // its oldest unacknowledged events first, so the gap is filled later.
    if (e.seq != applied_ + 1) continue;
    applied_ = e.seq;
    if (allowed && apply) apply(e);
  }
  Bytes ack{SessionPacket::kInputAck};
  appendLE<uint32_t>(ack, applied_);
  return ack;
}

}  // namespace plimo
