// The viewer session fed arbitrary host packets: it neither crashes nor holds
// more frame bytes than its budget allows.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/ManualLoop.h"
#include "platform/fake/FakePlatform.h"
#include "testkit/FuzzPackets.h"
#include "viewer/LatestPicture.h"
#include "viewer/ViewerSession.h"

using namespace plimo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ManualLoop loop;
  FakePlatform platform;
  LatestPicture display;
  ViewerSession session(loop, platform, {"123456789", "000 000", [](ByteView) {}}, AppSettings{}, {},
                        ViewerSession::Options{"/fuzz.png", false, {}, false});
  session.setDisplay(&display);
  // Packet types the session knows, so that the fuzzer reaches their parsers.
  static constexpr uint8_t kTypes[] = {0x81, 0x85, 0x87, 0x88, 0x89, 0x8A, 0x8B, 0x00};
  testkit::forEachPacket(data, size, [&](uint8_t op, Bytes& packet) {
    if (!packet.empty() && (op & 8)) packet[0] = kTypes[op % 8];
    session.receive(packet);
    if (op & 2) loop.advance(0.5);
    if (session.frameBytesHeld() > ViewerPictures::kMaxFrameBytes) std::abort();
    if (op == 0xFF) session.pickMonitor(packet.empty() ? 0 : packet[0]);
  });
  return 0;
}
