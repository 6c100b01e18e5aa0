// Input receiver fed arbitrary packets: `applied` only moves forward, one
// step per event applied, and every event reaches the callback in sequence.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "protocol/wire/InputReceiver.h"
#include "protocol/wire/InputSender.h"
#include "testkit/FuzzPackets.h"

using namespace plimo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputReceiver receiver;
  InputSender sender;
  for (int i = 0; i < 20; ++i) sender.add(InputEvent::move, i, i, i);
  testkit::forEachPacket(data, size, [&](uint8_t op, Bytes& packet) {
    if (op & 1) {
      if (!packet.empty()) packet[0] = 0x85;
      sender.handleAck(packet);
      return;
    }
    if (!packet.empty()) packet[0] = 0x84;
    const uint32_t before = receiver.applied();
    const bool allowed = (op & 2) != 0;
    uint32_t expect = before + 1;
    const auto ack = receiver.handle(packet, allowed, [&](const InputEvent& e) {
      if (!allowed || e.seq != expect++) std::abort();
    });
    if (receiver.applied() < before) std::abort();
    if (allowed && receiver.applied() != expect - 1) std::abort();
    if (!ack && receiver.applied() != before) std::abort();
    if (ack && readLE32(*ack, 1) != receiver.applied()) std::abort();
  });
  return 0;
}
