// The server's text commands behind the seal: every input is a few plaintext
// lines, each sealed under a real session of one of three registered clients
// (two of them introduced to each other), so the fuzzer spends its time in
// the command parsers and the rendezvous rather than in the AEAD.
//
// Line format: one control byte, then the text. Control: bits 0-1 the
// speaker (a, b, c), bits 2-4 seconds of virtual time before the line, bit 5
// a relayed 0x14 packet with the text instead of a sealed line. In the text,
// @A @B @C become the clients' IDs and @K a partner key, so that short
// inputs name what the server knows.
//
// Beyond staying up: no usage record without an introduction, no report
// without a request.

#include <cstdlib>
#include <memory>

#include "server/ServerRig.h"

using namespace plimo;
using namespace plimo::testkit;

namespace {

const std::string kKey(128, 'A');

struct Fixture {
  ServerRig rig;
  RigClient clients[3];
  std::string ids[3];
  int introductions = 0;
  int asks = 0;

  explicit Fixture(const SigningKey& key)
      : rig(testConfig(), key),
        clients{{rig, RigClient::udp(40001)}, {rig, Endpoint::tcp(0x0A000002, 50000, 3)},
                {rig, RigClient::udp(40003, 0x0A000009)}} {
    for (int i = 0; i < 3; ++i) {
      ids[i] = clients[i].registerAs();
      clients[i].say("HELLO " + ids[i] + " 192.168.1.2" + std::to_string(i) + " 4000 " + kKey + " 127.0.0.1 0");
    }
    say(0, "CONNECT " + ids[1] + " 192.168.1.20 40000 " + kKey);
  }

  std::string expand(std::string text) const {
    const std::pair<const char*, const std::string*> names[] = {
        {"@A", &ids[0]}, {"@B", &ids[1]}, {"@C", &ids[2]}, {"@K", &kKey}};
    for (auto [name, value] : names) {
      for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + value->size())) {
        text.replace(at, 2, *value);
      }
    }
    return text;
  }

  void say(int speaker, const std::string& line) {
    RigClient& c = clients[speaker];
    if (!c.codec.channel) return;
    rig.server.receive(c.endpoint, c.codec.seal(line));
    bool asking = line.rfind("CONNECT ", 0) == 0;
    for (auto& reply : c.lines()) introductions += asking && reply.rfind("PEER ", 0) == 0;
    for (auto& other : clients) {
      for (auto& reply : other.lines()) asks += reply.rfind("REPORTASK ", 0) == 0;
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One server key for all runs: making one is most of a fixture's cost.
  static const SigningKey key = SigningKey::generate();
  Fixture f(key);
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  while (start < input.size()) {
    size_t end = input.find('\n', start);
    if (end == std::string::npos) end = input.size();
    std::string line = input.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    auto control = uint8_t(line[0]);
    int speaker = (control & 3) % 3;
    f.rig.loop.advance(control >> 2 & 7);
    std::string text = f.expand(line.substr(1));
    if (control & 0x20) {
      Bytes packet{0x14};
      append(packet, toBytes(text));
      f.rig.server.receive(f.clients[speaker].endpoint, packet);
    } else {
      f.say(speaker, text);
    }
  }
  if (f.rig.store->usageCount() > f.introductions) std::abort();
  if (f.rig.store->reportCount() > f.asks) std::abort();
  return 0;
}
