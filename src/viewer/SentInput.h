#pragma once
// The helper's input on its way to the host: events wait in the sender until
// the host acknowledges them (InputSender), and the round trip of an event
// sent with nothing else pending is timed.
//
// Owner: the viewer session; its thread only.

#include <cstdint>
#include <optional>

#include "core/Bytes.h"
#include "core/EventLoop.h"
#include "core/Observable.h"
#include "protocol/wire/InputSender.h"

namespace plimo {

class SentInput {
 public:
  // `clock` outlives the input.
  explicit SentInput(const EventLoop& clock) : clock_(clock) {}

  // Queues one event; the packet to send now.
  std::optional<Bytes> add(uint8_t kind, int x, int y, int32_t data);
  // The packet that sends again what waits (every 100 ms), if anything does.
  std::optional<Bytes> resend();
  void handleAck(ByteView packet);

  const InputSender& sender() const { return sender_; }
  // Seconds from an input event, sent once with nothing else pending, to the
  // host's acknowledgement of it; 0 until the first such event is answered.
  const Observable<double>& roundTrip() const { return roundTrip_; }

 private:
  const EventLoop& clock_;
  InputSender sender_;
  // The event being timed (0: none) and when it went out.
  uint32_t timed_ = 0;
  double timedSent_ = 0;
  Observable<double> roundTrip_{0};
};

}  // namespace plimo
