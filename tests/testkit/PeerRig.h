#pragma once
// One registered PlimoClient (a ClientRig, the test as its server) and a
// FakePartner the test plays: the rig introduces the partner with a PEER
// line, delivers what the partner sends (direct or through the server), and
// reads back what the client sent the partner, opened with the partner's
// channel.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "testkit/ClientRig.h"
#include "testkit/FakePartner.h"

namespace plimo::testkit {

class PeerRig {
 public:
  // One packet the client sent towards the partner, opened.
  struct Sent {
    Address to;  // empty IP: through the server
    std::string line;  // the plaintext, as text
    double at = 0;
    bool droppable = false;  // over TCP: marked droppable
  };

  static constexpr const char* kMyID = "123456789";

  explicit PeerRig(bool up = true) {
    if (up) {
      rig.bringUp(kMyID);
      rig.lines();
    }
  }

  PlimoClient& client() { return *rig.client; }
  PlimoClientTestKit kit() { return rig.kit(); }

  // The server introduces `p` (by default the rig's partner).
  void introduce(const std::string& tail = " - U") { introduce(partner, tail); }
  void introduce(FakePartner& p, const std::string& tail = " - U") {
    rig.sendLine(p.peerLine(kit().peerKey().publicKey(), tail));
  }

  // A line from the partner straight from `from`, or through the server.
  void direct(const std::string& line, const Address& from) { rig.deliver(partner.seal(line), from); }
  void direct(ByteView session, const Address& from) { rig.deliver(partner.seal(session), from); }
  void viaServer(const std::string& line) { rig.deliver(partner.relayed(line)); }

  // Introduces the partner and locks the link to its public address.
  void lockDirect(const std::string& tail = " - U") {
    introduce(tail);
    direct("PUNCHACK", partner.publicAddress);
  }

  // What the client sent towards `p` since the last call: direct datagrams to
  // any address but the server's, and 0x14 packets to the server (UDP or
  // TCP). Packets that do not open with `p`'s channel are left out.
  std::vector<Sent> drain() { return drain(partner); }
  std::vector<Sent> drain(FakePartner& p) {
    std::vector<Sent> out;
    auto take = [&](ByteView packet, const Address& to, bool droppable) {
      bool toServer = to == ClientRig::serverAddress();
      if (toServer && (packet.empty() || packet[0] != 0x14)) return;
      if (auto line = p.openLine(packet)) {
        out.push_back({toServer ? Address{} : to, *line, rig.loop.now(), droppable});
      }
    };
    for (auto& u : rig.sockets.udp) {
      size_t& seen = udpSeen_[u.get()];
      for (; seen < u->sent.size(); ++seen) take(u->sent[seen].data, u->sent[seen].to, false);
    }
    for (auto& t : rig.sockets.tcp) {
      size_t& seen = tcpSeen_[t.get()];
      for (; seen < t->sent.size(); ++seen) take(t->sent[seen].first, ClientRig::serverAddress(), t->sent[seen].second);
    }
    return out;
  }

  static size_t count(const std::vector<Sent>& sent, const std::string& line, std::optional<Address> to = {}) {
    size_t n = 0;
    for (auto& s : sent) n += s.line == line && (!to || s.to == *to);
    return n;
  }

  bool logged(const std::string& line) const { return rig.logged(line); }

  ClientRig rig;  // also records the events and the session data
  FakePartner partner;

 private:
  std::map<UdpRecord*, size_t> udpSeen_;
  std::map<TcpRecord*, size_t> tcpSeen_;
};

}  // namespace plimo::testkit
