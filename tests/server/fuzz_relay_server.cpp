// Any packet from any endpoint, and any line inside a genuine sealed session,
// must leave the server running with bounded state.

#include <cstdlib>

#include "server/ServerRig.h"

using namespace plimo;
using namespace plimo::testkit;

namespace {

struct Fixture {
  ServerRig rig;
  RigClient a{rig, RigClient::udp(40001)};
  RigClient b{rig, Endpoint::tcp(0x0A000002, 50000, 3)};
  Fixture() {
    a.registerAs();
    b.registerAs();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture* f = new Fixture();
  if (size < 1) return 0;
  uint8_t mode = data[0];
  ByteView rest(data + 1, size - 1);
  RigClient& speaker = (mode & 1) ? f->a : f->b;
  switch (mode >> 1 & 3) {
    case 0:  // a raw packet from a client's endpoint
      f->rig.server.receive(speaker.endpoint, rest);
      break;
    case 1:  // a raw packet from a stranger
      f->rig.server.receive(Endpoint::udp(0x01020304, uint16_t(mode)), rest);
      break;
    default:  // a sealed line from a real session
      if (speaker.codec.channel) f->rig.server.receive(speaker.endpoint, speaker.codec.seal(toString(rest)));
      break;
  }
  if (mode >> 3 & 1) f->rig.loop.advance(mode >> 4);
  // Keep the recorded packets from growing without end.
  if (f->rig.sink.sent.size() > 10000) {
    f->rig.sink.sent.clear();
    f->a.seen = f->b.seen = 0;
  }
  f->rig.logs.clear();
  if (f->rig.server.sessions().size() > 8000) std::abort();
  return 0;
}
