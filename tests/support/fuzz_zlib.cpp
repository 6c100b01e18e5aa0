// Inflate of arbitrary bytes: refuses or returns, within the limit, never more.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "support/Zlib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace plimo;
  // A limit small enough that a bomb in 4 KB of input is caught quickly.
  constexpr size_t kLimit = 1 << 20;
  try {
    const Bytes out = Zlib::decompress(ByteView(data, size), kLimit);
    if (out.size() > kLimit) std::abort();
    // What came out must go back in and come out the same.
    if (Zlib::decompress(Zlib::compress(out), kLimit) != out) std::abort();
  } catch (Zlib::Failure) {
  }
  return 0;
}
