#pragma once
// A PlimoClient on a ManualLoop with in-memory sockets, and the test as its
// server: the rig resolves the server's name, records every event and the
// session data (it is the client's LinkRecorder), and opens the client's
// sealed lines with the FakeRelayServer's session.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/ManualLoop.h"
#include "protocol/link/PlimoClient.h"
#include "testkit/FakeRelayServer.h"
#include "testkit/FakeSockets.h"
#include "testkit/LinkRecorder.h"
#include "testkit/PlimoClientTestKit.h"

namespace plimo::testkit {

class ClientRig : public LinkRecorder {
 public:
  static constexpr const char* kHost = "relay.example";
  static constexpr const char* kServerIP = "203.0.113.5";
  static constexpr uint16_t kServerPort = 47800;

  explicit ClientRig(std::string tcpPorts = "8443,443,80", std::string keyHex = "") {
    sockets.hosts[kHost] = kServerIP;
    client = PlimoClient::create(loop, sockets, weak(), kHost, kServerPort, tcpPorts, keyHex);
    client->attachSession(weak());
  }

  static Address serverAddress() { return {kServerIP, kServerPort}; }
  PlimoClientTestKit kit() { return PlimoClientTestKit(*client); }

  // Starts the client and lets the name lookup answer.
  void start() {
    client->start();
    loop.runPending();
  }

  UdpRecord& udp() { return *sockets.udp.back(); }

  // Everything the client sent to the server, over UDP and every TCP link,
  // in the order of the links (UDP first).
  std::vector<Bytes> sentToServer() {
    std::vector<Bytes> all;
    for (auto& u : sockets.udp) {
      for (auto& d : u->sent) {
        if (d.to == serverAddress()) all.push_back(d.data);
      }
    }
    for (auto& t : sockets.tcp) {
      for (auto& [p, droppable] : t->sent) all.push_back(p);
    }
    return all;
  }

  std::vector<Bytes> handshakes() {
    std::vector<Bytes> out;
    for (auto& p : sentToServer()) {
      if (FakeRelayServer::isHandshake(p)) out.push_back(p);
    }
    return out;
  }

  // A datagram from `from` (the server by default), handled at once.
  void deliver(Bytes datagram, Address from = serverAddress()) {
    UdpRecord::deliver(sockets.udp.back(), std::move(datagram), std::move(from));
    loop.runPending();
  }
  // A packet over the newest TCP link, handled at once.
  void deliverTcp(Bytes packet) {
    TcpRecord::deliver(sockets.tcp.back(), std::move(packet));
    loop.runPending();
  }
  void sendLine(const std::string& line) { deliverOnTransport(relay.seal(line)); }

  // Answers the client's latest handshake with a signed welcome, over the
  // transport the handshake came on.
  void welcome() {
    auto all = handshakes();
    deliverOnTransport(relay.welcome(all.back()));
  }

  // The client's sealed lines not read before, opened with the current
  // session (each packet is opened once: the window refuses replays).
  std::vector<std::string> lines() {
    auto all = sentToServer();
    std::vector<std::string> out;
    for (; read_ < all.size(); ++read_) {
      if (auto line = relay.open(all[read_])) out.push_back(*line);
    }
    return out;
  }

  // From a fresh start to a registered client with `id`.
  void bringUp(const std::string& id = "123456789") {
    start();
    welcome();
    lines();
    sendLine("ID " + id);
  }

  bool logged(const std::string& line) const {
    for (auto& l : logs) {
      if (l == line) return true;
    }
    return false;
  }

  ManualLoop loop;
  FakeSocketFactory sockets{loop};
  FakeRelayServer relay;  // the test's end of the server session
  std::shared_ptr<PlimoClient> client;

 private:
  void deliverOnTransport(Bytes packet) {
    if (kit().onTcp() && !sockets.tcp.empty() && sockets.tcp.back()->alive()) {
      deliverTcp(std::move(packet));
    } else {
      deliver(std::move(packet));
    }
  }

  size_t read_ = 0;
};

}  // namespace plimo::testkit
