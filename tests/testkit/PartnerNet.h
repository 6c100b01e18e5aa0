#pragma once
// Two real PlimoClients on one ManualLoop and a scripted server between them:
// it answers handshakes, gives each its ID, answers CONNECT with PEER to both
// sides and passes 0x14 packets on. Direct datagrams between the two travel
// over one LossyLink and relayed ones over another, so a test can drop,
// duplicate or veto either path; a side's direct packets can show another
// source address (a NAT that maps a new port per destination).
//
// Declare it in the test body; it owns the loop, both clients and the links.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/ManualLoop.h"
#include "protocol/link/PlimoClient.h"
#include "testkit/FakeRelayServer.h"
#include "testkit/FakeSockets.h"
#include "testkit/LinkRecorder.h"
#include "testkit/LossyLink.h"

namespace plimo::testkit {

class PartnerNet {
 public:
  static constexpr const char* kHost = "relay.example";
  static Address server() { return {"203.0.113.5", 47800}; }

  // One PC; it records what its client tells.
  struct Side : LinkRecorder {
    std::string id;
    Address publicAddress;  // where the server and the partner reach it
    std::optional<Address> directSource;  // source its direct packets show, when the NAT remaps
    std::string transport = "U";  // relay capability the server reports about it
    double lineDelay = 0;  // the server's lines reach it this much later
    LossyLink::End end = LossyLink::End::a;

    std::unique_ptr<FakeSocketFactory> sockets;
    FakeRelayServer relay;
    std::shared_ptr<PlimoClient> client;
    std::string lanIP;
    uint16_t lanPort = 0;
    std::string keyHex;  // its partner key from HELLO or CONNECT

    std::vector<std::string> lines;  // the client's lines as the server read them

    PlimoClient& c() { return *client; }
    bool logged(const std::string& prefix) const {
      for (auto& l : logs) {
        if (l.rfind(prefix, 0) == 0) return true;
      }
      return false;
    }
    size_t linesStarting(const std::string& prefix) const {
      size_t n = 0;
      for (auto& l : lines) n += l.rfind(prefix, 0) == 0;
      return n;
    }
  };

  explicit PartnerNet(LossyLink::Options directOptions = {}, LossyLink::Options relayOptions = {})
      : direct(loop, directOptions), relayed(loop, relayOptions) {
    setUp(a, "111222333", {"198.51.100.10", 50010}, "192.168.1.10", LossyLink::End::a);
    setUp(b, "444555666", {"198.51.100.20", 50020}, "10.0.0.20", LossyLink::End::b);
    for (Side* s : {&a, &b}) {
      Side& other = partnerOf(*s);
      direct.setReceiver(s->end, [this, s, &other](ByteView p) {
        deliver(*s, Bytes(p.begin(), p.end()), other.directSource.value_or(other.publicAddress));
      });
      relayed.setReceiver(s->end, [this, s](ByteView p) { deliver(*s, Bytes(p.begin(), p.end()), server()); });
    }
  }

  // Starts both clients and runs until both are registered.
  bool start() {
    for (Side* s : {&a, &b}) {
      s->client->start();
      auto record = s->sockets->udp.back();
      s->lanPort = record->localPort;
      record->onSend = [this, s](const Datagram& d) { route(*s, d); };
    }
    return loop.runUntil([&] { return a.c().myID() != "0" && b.c().myID() != "0"; }, 5.0, 0.01);
  }

  bool runUntil(const std::function<bool()>& done, double seconds) { return loop.runUntil(done, seconds, 0.01); }
  bool bothConnected() {
    return a.c().state() == PlimoClient::State::connected && b.c().state() == PlimoClient::State::connected;
  }

  Side& partnerOf(Side& s) { return &s == &a ? b : a; }

  ManualLoop loop;
  Side a, b;
  LossyLink direct;
  LossyLink relayed;

 private:
  void setUp(Side& s, std::string id, Address publicAddress, std::string lanIP, LossyLink::End end) {
    s.id = std::move(id);
    s.publicAddress = std::move(publicAddress);
    s.lanIP = lanIP;
    s.end = end;
    s.sockets = std::make_unique<FakeSocketFactory>(loop);
    s.sockets->hosts[kHost] = server().ip;
    s.sockets->localIP = lanIP;
    s.sockets->nextUdpPort = s.publicAddress.port;  // NATs that keep the port
    s.client = PlimoClient::create(loop, *s.sockets, s.weak(), kHost, server().port, "", "");
    s.client->attachSession(s.weak());
  }

  void deliver(Side& to, Bytes packet, Address from) {
    if (!to.sockets->udp.empty()) UdpRecord::deliver(to.sockets->udp.back(), std::move(packet), std::move(from));
  }

  void say(Side& to, const std::string& line) {
    Bytes packet = to.relay.seal(line);
    if (to.lineDelay <= 0) return deliver(to, std::move(packet), server());
    later_.push_back(loop.after(to.lineDelay, [this, &to, packet] { deliver(to, packet, server()); }));
  }

  std::string peerLine(const Side& about) {
    return "PEER " + about.publicAddress.ip + " " + std::to_string(about.publicAddress.port) + " " + about.lanIP +
           " " + std::to_string(about.lanPort) + " " + about.keyHex + " " + about.id + " - " + about.transport;
  }

  static std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    size_t from = 0;
    for (;;) {
      size_t space = line.find(' ', from);
      out.push_back(line.substr(from, space == std::string::npos ? std::string::npos : space - from));
      if (space == std::string::npos) return out;
      from = space + 1;
    }
  }

  void route(Side& from, const Datagram& d) {
    Side& other = partnerOf(from);
    if (d.to == server()) return toServer(from, d.data);
    // The remapped port leads back through the partner's NAT as well.
    if (d.to == other.publicAddress || d.to == other.directSource || d.to == Address{other.lanIP, other.lanPort}) {
      direct.send(from.end, d.data);
    }
    // Anything else reaches nobody.
  }

  void toServer(Side& from, const Bytes& packet) {
    if (FakeRelayServer::isHandshake(packet)) {
      deliver(from, from.relay.welcome(packet), server());
      return;
    }
    if (!packet.empty() && packet[0] == 0x14) {
      relayed.send(from.end, packet);
      return;
    }
    auto line = from.relay.open(packet);
    if (!line) return;
    from.lines.push_back(*line);
    auto w = words(*line);
    Side& other = partnerOf(from);
    if (w[0] == "HELLO" && w.size() >= 5) {
      from.keyHex = w[4];
      say(from, "ID " + from.id);
    } else if (w[0] == "CONNECT" && w.size() >= 5) {
      if (w[1] != other.id) return say(from, "ERR UNKNOWN_ID");
      from.keyHex = w[4];
      say(from, peerLine(other));
      say(other, peerLine(from));
    }
  }

  std::vector<Timer> later_;
};

}  // namespace plimo::testkit
