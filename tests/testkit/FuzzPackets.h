#pragma once
// Cuts a fuzzer's input into packets: one byte that picks the operation, a
// 16-bit length (taken modulo 1300, the largest session packet and some), and
// that many bytes; stops at the first packet the input cannot fill.

#include <cstddef>
#include <cstdint>

#include "core/Bytes.h"

namespace plimo::testkit {

template <typename Fn>
void forEachPacket(const uint8_t* data, size_t size, Fn fn) {
  const ByteView in(data, size);
  size_t pos = 0;
  while (pos + 3 <= size) {
    const uint8_t op = in[pos];
    const size_t len = readLE16(in, pos + 1) % 1300;
    pos += 3;
    if (!inRange(size, pos, len)) return;
    Bytes packet = bytes(in, pos, len);
    pos += len;
    fn(op, packet);
  }
}

}  // namespace plimo::testkit
