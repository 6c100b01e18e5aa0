// Any packet from any endpoint, any line inside a genuine sealed session and
// any datagram on the fleet port must leave the server running with bounded
// state; a fleet packet's plaintext reads back as the bytes it came from.

#include <cstdlib>

#include "server/FleetPacket.h"
#include "server/ServerRig.h"

using namespace plimo;
using namespace plimo::testkit;

namespace {

struct Fixture {
  RecordingSink fleetSink;
  ServerRig rig{named()};
  RigClient a{rig, RigClient::udp(40001)};
  RigClient b{rig, Endpoint::tcp(0x0A000002, 50000, 3)};
  static RelayConfig named() {
    RelayConfig config = testConfig();
    config.serverName = "a:47800";
    return config;
  }
  Fixture() {
    rig.server.relayThroughFleet(fleetSink, "127.0.0.2:47801");
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
    case 2:  // on the fleet port, and what it would say once opened
      f->rig.server.fleetPacket(Endpoint::udp(0x01020304, 47801), rest);
      if (auto packet = FleetPacket::parse(rest); packet && packet->plain() != Bytes(rest.begin(), rest.end())) {
        std::abort();
      }
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
