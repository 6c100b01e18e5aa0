#include "viewer/SentInput.h"

namespace plimo {

std::optional<Bytes> SentInput::add(uint8_t kind, int x, int y, int32_t data) {
  const bool alone = sender_.pending().empty();
  const uint32_t seq = sender_.add(kind, x, y, data).seq;
  if (alone && !timed_) timed_ = seq, timedSent_ = clock_.now();
  return sender_.packet();
}

std::optional<Bytes> SentInput::resend() {
  // A resent event would time its last copy against its first.
  if (!sender_.pending().empty()) timed_ = 0;
  return sender_.packet();
}

void SentInput::handleAck(ByteView packet) {
  sender_.handleAck(packet);
  if (!timed_ || (!sender_.pending().empty() && sender_.pending().front().seq <= timed_)) return;
  roundTrip_.set(clock_.now() - timedSent_);
  timed_ = 0;
}

}  // namespace plimo
