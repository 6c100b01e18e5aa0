// The host session fed arbitrary partner packets before and after consent:
// it neither crashes nor plays input outside the shared screen.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "core/ManualLoop.h"
#include "host/HostSession.h"
#include "platform/fake/FakePlatform.h"
#include "testkit/FuzzPackets.h"

using namespace plimo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ManualLoop loop;
  FakePlatform platform;
  platform.screens = {{1, {100, 50, 320, 200}, true}};
  platform.pictureSize = {320, 200};
  HostSession::Link link{"123456789", "000 000", "", false, {}, [](ByteView) {}, [] {}};
  HostSession session(loop, platform, SystemInfo{}, link, {}, true, false);
  // Packet types the session knows, so that the fuzzer reaches their parsers.
  static constexpr uint8_t kTypes[] = {0x82, 0x83, 0x84, 0x86, 0x88, 0x89, 0x8A, 0x00};
  testkit::forEachPacket(data, size, [&](uint8_t op, Bytes& packet) {
    if (!packet.empty() && (op & 8)) packet[0] = kTypes[op % 8];
    session.receive(packet);
    if (op & 2) loop.advance(0.5);
    if (platform.input)
      for (auto& e : platform.input->events) {
        int x = 0, y = 0;
        if (std::sscanf(e.c_str(), "move %d,%d", &x, &y) == 2 && (x < 100 || x >= 420 || y < 50 || y >= 250))
          std::abort();
      }
  });
  return 0;
}
