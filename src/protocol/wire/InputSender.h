#pragma once
// Viewer side of input: numbers the helper's events and keeps each until the
// host acknowledges it, sending the oldest backlog in every packet.
//
// Main thread only, no lock, no callbacks. The owning session sends packet()
// at once after add() and again from its 0.1 s tick.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

#include "core/Bytes.h"
#include "protocol/wire/InputEvent.h"

namespace plimo {

class InputSender {
 public:
  // Events in one packet: 2 + 90 × 13 = 1172 bytes, inside one datagram.
  static constexpr size_t kMaxPerPacket = 90;

  // Appends an event with the next sequence number; x and y are clamped to
  // the 16-bit range. Returns the event as queued.
  const InputEvent& add(uint8_t kind, int x, int y, int32_t data);

  // The input packet for the oldest pending events (at most 90), or nothing
  // when none are pending. Events stay pending until acknowledged.
  std::optional<Bytes> packet() const;

  // 0x85: drops every event up to the acknowledged number.
  void handleAck(ByteView packet);

  const std::deque<InputEvent>& pending() const { return pending_; }
  uint32_t nextSeq() const { return nextSeq_; }

 private:
  std::deque<InputEvent> pending_;
  uint32_t nextSeq_ = 1;
};

}  // namespace plimo
