#pragma once
// Which packet counters a channel has already accepted.

#include <cstdint>

namespace plimo {

// Covers the 64 counters highest - 63 .. highest: bit i of `bits` is set when
// counter highest - i was accepted. Packets may arrive out of order by up to
// 63 places and are each accepted once; anything older is refused. Not
// thread-safe on its own: SecureChannel guards it with its lock.
struct ReplayWindow {
  // 64 = the width of `bits`.
  static constexpr uint64_t kSize = 64;

  uint64_t highest = 0;
  uint64_t bits = 0;

  // True when `counter` may still be accepted. Counter 0 never is.
  bool isFresh(uint64_t counter) const {
    if (counter == 0) return false;
    if (counter > highest) return true;
    uint64_t age = highest - counter;
    return age < kSize && (bits >> age & 1) == 0;
  }

  // Records `counter` as accepted (after its packet authenticated).
  void mark(uint64_t counter) {
    if (counter > highest) {
      uint64_t shift = counter - highest;
      bits = shift < kSize ? (bits << shift) | 1 : 1;
      highest = counter;
      return;
    }
    uint64_t age = highest - counter;
    if (age < kSize) bits |= uint64_t(1) << age;
  }
};

}  // namespace plimo
