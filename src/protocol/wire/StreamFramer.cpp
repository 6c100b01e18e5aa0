#include "protocol/wire/StreamFramer.h"

namespace plimo {

bool StreamFramer::feed(ByteView data, const std::function<void(ByteView)>& packet) {
  size_t at = 0;
  // Whole frames straight from the read, without copying, while nothing is
  // buffered from an earlier read.
  while (buffer_.empty() && data.size() - at >= 2) {
    size_t n = readBE<uint16_t>(data, at);
    if (n == 0) return false;
    if (data.size() - at - 2 < n) break;
    packet(data.subspan(at + 2, n));
    at += 2 + n;
  }
  append(buffer_, data.subspan(at));
  size_t used = 0;
  while (buffer_.size() - used >= 2) {
    size_t n = readBE<uint16_t>(buffer_, used);
    if (n == 0) return false;
    if (buffer_.size() - used - 2 < n) break;
    packet(ByteView(buffer_).subspan(used + 2, n));
    used += 2 + n;
  }
  buffer_.erase(buffer_.begin(), buffer_.begin() + ptrdiff_t(used));
  return true;
}

Bytes StreamFramer::frame(ByteView packet) {
  if (packet.empty() || packet.size() > kMaxPacket) return {};
  Bytes out;
  out.reserve(packet.size() + 2);
  appendBE(out, uint16_t(packet.size()));
  append(out, packet);
  return out;
}

}  // namespace plimo
