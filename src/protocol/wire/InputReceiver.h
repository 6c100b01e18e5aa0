#pragma once
// Host side of input: applies the helper's events strictly in sequence, each
// exactly once, across loss, repetition and reordering of packets, and
// answers every well-formed packet with the last sequence applied.
//
// Main thread only, no lock. The apply callback runs synchronously inside
// handle(), never later.

#include <cstdint>
#include <functional>
#include <optional>

#include "core/Bytes.h"
#include "protocol/wire/InputEvent.h"

namespace plimo {

class InputReceiver {
 public:
  using Apply = std::function<void(const InputEvent&)>;

  // A 0x84 packet. Each event next in sequence advances `applied`; it is
  // passed to `apply` only when `allowed` (the helper has control and the
  // session is not paused), so events refused while control is off are
  // acknowledged and never replayed later. Returns the acknowledgement, or
  // nothing for a malformed packet (no events, more than 90, or shorter than
  // its count says), which changes nothing.
  std::optional<Bytes> handle(ByteView packet, bool allowed, const Apply& apply);

  uint32_t applied() const { return applied_; }

 private:
  uint32_t applied_ = 0;
};

}  // namespace plimo
