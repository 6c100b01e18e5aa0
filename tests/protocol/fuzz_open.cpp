// Feeds arbitrary bytes to SecureChannel::open, and tampers with real sealed
// packets, checking that only an untouched packet opens and only once.

#include <algorithm>
#include <cstdlib>

#include "protocol/wire/SecureChannel.h"

using namespace plimo;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteView input(data, size);
  // Fresh ends for every input, so the outcome never depends on the order
  // the fuzzer tries inputs in.
  SecureChannel sender(SecureChannel::kPeerType, Bytes(32, 0xA5), Bytes(32, 0x5A), 3, 4);
  SecureChannel receiver(SecureChannel::kPeerType, Bytes(32, 0x5A), Bytes(32, 0xA5), 4, 3);

  // Raw bytes: nothing the fuzzer makes up carries a valid tag.
  check(!receiver.open(input).has_value());
  if (size < 2) return 0;

  // The input's tail as a plaintext, its first two bytes as a position and a
  // bit mask to flip in the sealed packet (mask 0: left intact).
  ByteView plaintext = input.subspan(2);
  Bytes packet = sender.seal(plaintext);
  size_t at = data[0] % packet.size();
  uint8_t mask = data[1];
  packet[at] ^= mask;
  auto opened = receiver.open(packet);
  bool intact = mask == 0;
  check(opened.has_value() == (intact && !plaintext.empty()));
  if (opened) {
    check(std::equal(opened->begin(), opened->end(), plaintext.begin(), plaintext.end()));
    check(!receiver.open(packet).has_value());  // a replay
  }
  if (!intact) {
    // The tampered copy moved nothing: the real packet still opens.
    packet[at] ^= mask;
    check(receiver.open(packet).has_value() == !plaintext.empty());
  }
  return 0;
}
