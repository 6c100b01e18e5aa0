#pragma once
// Reliable, ordered, typed messages over the unreliable partner link.
//
// Bytes in, bytes out: the owning session posts messages, calls poll() from a
// fast timer and sends what it returns (sealed, while the link is connected;
// a packet polled but not sent simply goes out again on its next resend), and
// hands received 0x88 / 0x89 packets to handleMsg / handleAck.
//
// Message packet: 0x88, u32 LE sequence (first is 1), kind, more (0/1), then
// 0..1150 payload bytes. Acknowledgement: 0x89, u32 LE highest sequence
// delivered in order (cumulative).
//
// Main thread only, no lock, no callbacks. Lives as long as its session and is
// never reset.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string_view>
#include <vector>

#include "core/Bytes.h"
#include "core/EventLoop.h"
#include "protocol/wire/ChannelMsg.h"

namespace plimo {

// A posted message not yet acknowledged.
struct OutMsg {
  uint32_t seq = 0;
  Bytes packet;           // the complete message packet
  double lastSent = 0.0;  // uptime of the last transmission, 0 for never
  bool resent = false;    // sent more than once: its acknowledgement times no round trip
};

class MsgChannel {
 public:
  static constexpr size_t kHeader = 7;
  // Largest payload part: a message packet is then at most 1157 bytes, which
  // stays below the path MTU after sealing (+25) and the relay prefix (+1).
  static constexpr size_t kMaxPart = 1150;
  // Messages transmitted before an acknowledgement is needed; also bounds the
  // burst of one poll().
  static constexpr size_t kWindow = 64;
  // The longest wait before a resend; the wait follows the measured round
  // trip below it, never under kMinResend (a few of the sessions' 10 ms
  // polls), so that one loss on a fast link stalls the window briefly.
  static constexpr double kResend = 0.3;
  static constexpr double kMinResend = 0.03;
  // Out-of-order messages held. Also bounds how far past the next expected
  // message a sequence number may be: a sender never has more than kWindow
  // messages in flight past it, so anything further is not from a working
  // partner and is ignored without an acknowledgement.
  static constexpr size_t kMaxEarly = 256;

  // `clock` gives the uptime and must outlive the channel.
  explicit MsgChannel(const EventLoop& clock) : clock_(clock) {}

  // Queues a message of `kind`. A payload longer than one part is split into
  // consecutive messages of kMaxPart bytes, `more` set on every part but the
  // last, which carries the given `more`. Sent with the next poll().
  void post(uint8_t kind, ByteView payload, bool more = false);
  // A payload of any size as consecutive parts; empty gives one empty part.
  void postBytes(uint8_t kind, ByteView payload) { post(kind, payload, false); }
  void postText(uint8_t kind, std::string_view text);

  // Packets to send now: messages due for (re)transmission among the first
  // kWindow unacknowledged ones, then at most one acknowledgement.
  std::vector<Bytes> poll();

  // A received 0x88 packet: the messages that became deliverable, in order.
  // Malformed packets (shorter than the header, longer than one part,
  // sequence 0 or beyond the early window) change nothing and cause no reply.
  std::vector<ChannelMsg> handleMsg(ByteView packet);
  // A received 0x89 packet: releases every message up to its number. The
  // same number again means the partner holds later messages but not the
  // next one: that one goes again with the next poll, once per round trip.
  void handleAck(ByteView packet);

  uint32_t nextSeq() const { return nextSeq_; }
  uint32_t delivered() const { return delivered_; }
  const std::deque<OutMsg>& out() const { return out_; }
  size_t earlyCount() const { return early_.size(); }
  bool ackDue() const { return ackDue_; }
  double resendTime() const { return resendTime_; }

 private:
  void postPart(uint8_t kind, ByteView part, bool more);
  static ChannelMsg unpack(ByteView packet);
  void timeRoundTrip(double seconds);
  void repeatedAck(double now);

  const EventLoop& clock_;
  std::deque<OutMsg> out_;
  uint32_t nextSeq_ = 1;
  uint32_t delivered_ = 0;
  std::map<uint32_t, Bytes> early_;
  bool ackDue_ = false;
  // Round trip estimate as TCP keeps it (RFC 6298), in seconds; 0 before the first.
  double roundTrip_ = 0.0, roundTripSpread_ = 0.0;
  double resendTime_ = kResend;
  uint32_t lastAck_ = 0;
};

}  // namespace plimo
