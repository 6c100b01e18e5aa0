#pragma once
// Packets out of a TCP stream to or from the server: each is a 2-byte
// big-endian length (1..65535) followed by that many bytes. Resumable: a
// frame split over reads comes out whole once its last byte arrives, and the
// framer holds at most one unfinished frame (65,537 bytes). Both ends use it:
// the client's RelayTCPLink and plimo-server's connections.
//
// Not thread-safe; one framer per stream direction, used by one thread.

#include <cstddef>
#include <cstdint>
#include <functional>

#include "core/Bytes.h"

namespace plimo {

class StreamFramer {
 public:
  static constexpr size_t kMaxPacket = 65535;  // what a 2-byte length can say

  // Feeds received bytes; calls `packet` for every complete frame, in order.
  // False when the stream is bad (a zero length): the connection must end,
  // and nothing after the bad header is delivered.
  [[nodiscard]] bool feed(ByteView data, const std::function<void(ByteView)>& packet);

  size_t buffered() const { return buffer_.size(); }

  // The frame for one packet; empty for an empty or oversized packet.
  static Bytes frame(ByteView packet);

 private:
  Bytes buffer_;
};

}  // namespace plimo
