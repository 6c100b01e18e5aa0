// Both frame receivers and the sender's ack/nack handling fed arbitrary
// packets: frames come out in ID order with consistent sizes, the windowed
// receiver holds a bounded number of frames, the sender's queues stay within
// their frames.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/ManualLoop.h"
#include "protocol/wire/FrameReceiver.h"
#include "protocol/wire/FrameWindowReceiver.h"
#include "protocol/wire/FrameWindowSender.h"
#include "testkit/FuzzPackets.h"

using namespace plimo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ManualLoop loop;
  FrameWindowReceiver window(loop, 64 << 10);
  FrameReceiver single(loop);
  FrameWindowSender sender(loop);
  sender.setLegacy(false);
  sender.setMaxInFlight(4);
  sender.start(Bytes(5000, 1));
  sender.start({});
  sender.start(Bytes(1200 * 40, 2));
  sender.nextPackets(100);

  static constexpr uint8_t types[] = {0x8B, 0x81, 0x82, 0x83};
  testkit::forEachPacket(data, size, [&](uint8_t op, Bytes& packet) {
    if (!packet.empty()) packet[0] = types[op & 3];

    switch (op & 3) {
      case 0: {
        const uint32_t before = window.next();
        const auto r = window.handleChunk(packet);
        if (window.next() < before && before != 0) std::abort();
        if (window.frames().size() > FrameWindowReceiver::kAhead + 1) std::abort();
        for (const auto& f : window.frames()) {
          if (f.first < window.next() || f.second.have > f.second.count) std::abort();
        }
        (void)r;
        break;
      }
      case 1: {
        const auto r = single.handleChunk(packet);
        if (r.blob && !r.reply) std::abort();
        if (single.doneID() > single.frameID()) std::abort();
        break;
      }
      case 2:
        sender.handleAck(packet);
        break;
      case 3:
        sender.handleNack(packet);
        for (const auto& f : sender.frames()) {
          if (f.queue.size() > f.chunks.size()) std::abort();
          for (uint16_t i : f.queue) {
            if (i >= f.chunks.size()) std::abort();
          }
        }
        break;
    }
    if (op & 4) loop.advance(0.03);
    if (op & 8) {
      window.pendingNacks(0.02);
      single.quickNack();
      single.pendingNack();
      sender.nextPackets(40);
    }
  });
  return 0;
}
