#include "protocol/wire/MsgChannel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace plimo {

void MsgChannel::post(uint8_t kind, ByteView payload, bool more) {
  size_t offset = 0;
  do {
    const size_t part = std::min(kMaxPart, payload.size() - offset);
    const bool last = offset + part == payload.size();
    postPart(kind, payload.subspan(offset, part), last ? more : true);
    offset += part;
  } while (offset < payload.size());
}

void MsgChannel::postText(uint8_t kind, std::string_view text) {
  postBytes(kind, ByteView(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

void MsgChannel::postPart(uint8_t kind, ByteView part, bool more) {
  Bytes packet;
  packet.reserve(kHeader + part.size());
  packet.push_back(SessionPacket::kChannelMsg);
  appendLE<uint32_t>(packet, nextSeq_);
  packet.push_back(kind);
  packet.push_back(more ? 1 : 0);
  append(packet, part);
  out_.push_back(OutMsg{nextSeq_, std::move(packet), 0.0});
  // Four billion messages do not fit in a session; a wrapped counter would
  // make the partner drop everything as duplicates.
  if (++nextSeq_ == 0) std::abort();
}

std::vector<Bytes> MsgChannel::poll() {
  const double now = clock_.now();
  std::vector<Bytes> result;
  const size_t inWindow = std::min(kWindow, out_.size());
  for (size_t i = 0; i < inWindow; ++i) {
    OutMsg& msg = out_[i];
    if (msg.lastSent == 0.0 || elapsed(now, msg.lastSent, resendTime_)) {
      if (msg.lastSent != 0.0) msg.resent = true;
      msg.lastSent = now;
      result.push_back(msg.packet);
    }
  }
  if (ackDue_) {
    ackDue_ = false;
    Bytes ack{SessionPacket::kChannelAck};
    appendLE<uint32_t>(ack, delivered_);
    result.push_back(std::move(ack));
  }
  return result;
}

ChannelMsg MsgChannel::unpack(ByteView packet) {
  return ChannelMsg{packet[5], (packet[6] & 1) != 0, bytes(packet, kHeader, packet.size() - kHeader)};
}

std::vector<ChannelMsg> MsgChannel::handleMsg(ByteView packet) {
  std::vector<ChannelMsg> result;
  if (packet.size() < kHeader || packet.size() > kHeader + kMaxPart) return result;
  if (packet[0] != SessionPacket::kChannelMsg) return result;
  const uint32_t seq = readLE32(packet, 1);
  if (seq == 0 || (seq > delivered_ && seq - delivered_ - 1 > kMaxEarly)) return result;

  // Every well-formed message is acknowledged, duplicates too, so that a lost
  // acknowledgement is repaired.
  ackDue_ = true;
  if (seq <= delivered_) return result;
  if (seq == delivered_ + 1) {
    result.push_back(unpack(packet));
    ++delivered_;
    for (auto it = early_.find(delivered_ + 1); it != early_.end(); it = early_.find(delivered_ + 1)) {
      result.push_back(unpack(it->second));
      early_.erase(it);
      ++delivered_;
    }
    return result;
  }
  if (early_.size() < kMaxEarly) early_.try_emplace(seq, packet.begin(), packet.end());
  return result;
}

void MsgChannel::handleAck(ByteView packet) {
  if (packet.size() < 5 || packet[0] != SessionPacket::kChannelAck) return;
  const uint32_t acked = readLE32(packet, 1);
  const double now = clock_.now();
  if (acked == lastAck_) {
    repeatedAck(now);
    return;
  }
  if (acked < lastAck_) return;  // overtaken by a later one
  lastAck_ = acked;
  // `out` is in sequence order, so the released ones are a prefix. The
  // newest of them times the round trip, unless one of them went twice: the
  // acknowledgement then waited for that one.
  bool timed = true;
  double newestSent = 0.0;
  while (!out_.empty() && out_.front().seq <= acked) {
    timed = timed && !out_.front().resent;
    newestSent = out_.front().lastSent;
    out_.pop_front();
  }
  if (timed && newestSent != 0.0) timeRoundTrip(now - newestSent);
}

void MsgChannel::repeatedAck(double now) {
  if (out_.empty() || out_.front().seq != lastAck_ + 1) return;
  OutMsg& next = out_.front();
  // Sent within the last round trip: the repeat may come from before it.
  if (next.lastSent == 0.0 || now - next.lastSent < roundTrip_) return;
  next.lastSent = 0.0;
  next.resent = true;
}

void MsgChannel::timeRoundTrip(double seconds) {
  if (roundTrip_ == 0.0) {
    roundTrip_ = seconds;
    roundTripSpread_ = seconds / 2;
  } else {
    roundTripSpread_ = 0.75 * roundTripSpread_ + 0.25 * std::abs(roundTrip_ - seconds);
    roundTrip_ = 0.875 * roundTrip_ + 0.125 * seconds;
  }
  resendTime_ = std::clamp(roundTrip_ + 4 * roundTripSpread_, kMinResend, kResend);
}

}  // namespace plimo
