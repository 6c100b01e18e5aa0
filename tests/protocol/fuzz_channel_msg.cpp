// Message channel fed arbitrary packets and acknowledgements: delivery stays
// in sequence, buffers stay bounded.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/ManualLoop.h"
#include "protocol/wire/MsgChannel.h"
#include "testkit/FuzzPackets.h"

using namespace plimo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ManualLoop loop;
  MsgChannel ch(loop);
  ch.postBytes(1, Bytes(3000, 7));
  testkit::forEachPacket(data, size, [&](uint8_t op, Bytes& packet) {
    if (!packet.empty()) packet[0] = (op & 1) ? 0x89 : 0x88;
    const uint32_t before = ch.delivered();
    const auto got = (op & 1) ? (ch.handleAck(packet), std::vector<ChannelMsg>{}) : ch.handleMsg(packet);
    if (ch.delivered() != before + got.size()) std::abort();
    for (const auto& m : got) {
      if (m.data.size() > MsgChannel::kMaxPart) std::abort();
    }
    if (ch.earlyCount() > MsgChannel::kMaxEarly) std::abort();
    if (op & 2) loop.advance(0.1);
    if (op & 4) {
      const auto out = ch.poll();
      if (out.size() > MsgChannel::kWindow + 1) std::abort();
    }
  });
  return 0;
}
