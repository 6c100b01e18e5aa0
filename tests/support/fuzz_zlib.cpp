// Inflate of arbitrary bytes: refuses or returns, within the limit, never more;
// a peek at the start never gives more than asked, nor other bytes than a
// whole inflate would.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "support/Zlib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace plimo;
  // A limit small enough that a bomb in 4 KB of input is caught quickly.
  constexpr size_t kLimit = 1 << 20;
  constexpr size_t kPeek = 64;
  const Bytes head = Zlib::peek(ByteView(data, size), kPeek);
  if (head.size() > kPeek) std::abort();
  try {
    const Bytes out = Zlib::decompress(ByteView(data, size), kLimit);
    if (out.size() > kLimit) std::abort();
    if (head.size() != std::min(out.size(), kPeek) || !std::equal(head.begin(), head.end(), out.begin())) std::abort();
    // What came out must go back in and come out the same.
    if (Zlib::decompress(Zlib::compress(out), kLimit) != out) std::abort();
  } catch (const Failure&) {
  }
  return 0;
}
