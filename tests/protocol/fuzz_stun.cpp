// Feeds arbitrary bytes to both STUN readers: they must refuse cleanly, and
// whatever they accept must survive a round trip through the builders.

#include <algorithm>
#include <cstdlib>

#include "protocol/wire/Stun.h"

using namespace plimo;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteView input(data, size);
  if (auto id = Stun::bindingRequestId(input)) {
    Stun::Mapped seen{0xC6336407, 47800};
    check(Stun::mappedAddress(Stun::bindingSuccess(*id, seen), *id) == seen);
  }
  // Answers are read under the transaction ID they carry, so the fuzzer
  // reaches the attribute walk.
  Stun::TransactionId id{};
  if (size >= Stun::kHeaderSize) std::copy_n(data + 8, id.size(), id.begin());
  if (auto mapped = Stun::mappedAddress(input, id)) check(!mapped->text().empty());
  return 0;
}
