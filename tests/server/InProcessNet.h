#pragma once
// Real PlimoClients and a real RelayServer on one ManualLoop, joined by an
// in-memory network: each client has its own address; UDP to the server,
// TCP to the server's listening ports, and direct UDP between clients can
// each be cut.

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/ManualLoop.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/link/PlimoClient.h"
#include "server/ServerRig.h"
#include "testkit/FakeSockets.h"
#include "testkit/LinkRecorder.h"
#include "testkit/PlimoClientTestKit.h"

namespace plimo::testkit {

class InProcessNet final : public PacketSink {
 public:
  static constexpr const char* kHost = "relay.test";
  static constexpr const char* kServerIP = "203.0.113.5";
  static constexpr uint16_t kServerPort = 47800;

  // One PC; it records what its client tells.
  struct Pc : LinkRecorder {
    std::string ip;
    std::unique_ptr<FakeSocketFactory> sockets;
    std::shared_ptr<PlimoClient> client;
    bool udpToServerBlocked = false;
    bool directBlocked = false;

    PlimoClientTestKit kit() { return PlimoClientTestKit(*client); }
    bool logged(const std::string& part) const {
      for (auto& l : logs) {
        if (l.find(part) != std::string::npos) return true;
      }
      return false;
    }
  };

  explicit InProcessNet(std::vector<uint16_t> tcpListening = {8443, 443})
      : store_(memoryStore()),
        key(SigningKey::generate()),
        tcpListening_(tcpListening.begin(), tcpListening.end()),
        server(loop, *store_, key, *this, configFor(tcpListening), [this](const std::string& t) { serverLog.push_back(t); }) {
    pump_ = loop.every(0.005, [this] { pump(); });
  }

  ServerStore& store() { return *store_; }

  // A PC at 10.0.0.n; not started.
  Pc& addPc(const std::string& keyHex = "", const std::string& tcpPorts = "8443,443") {
    auto pc = std::make_unique<Pc>();
    pc->ip = "10.0.0." + std::to_string(pcs.size() + 1);
    pc->sockets = std::make_unique<FakeSocketFactory>(loop);
    pc->sockets->hosts[kHost] = kServerIP;
    pc->sockets->localIP = pc->ip;
    pc->sockets->nextUdpPort = uint16_t(40000 + 10 * pcs.size());
    pc->client = PlimoClient::create(loop, *pc->sockets, pc->weak(), kHost, kServerPort, tcpPorts, keyHex);
    pc->client->attachSession(pc->weak());
    pcs.push_back(std::move(pc));
    return *pcs.back();
  }

  // Replaces a PC's client by a fresh one with the same address (a restart).
  void restart(Pc& pc, const std::string& keyHex, bool sayBye = true) {
    if (sayBye) pc.client->stop();
    size_t index = 0;
    while (pcs[index].get() != &pc) ++index;
    pc.client.reset();
    pc.sockets->nextUdpPort = uint16_t(40000 + 10 * index + 1 + pc.sockets->udp.size());
    pc.client = PlimoClient::create(loop, *pc.sockets, pc.weak(), kHost, kServerPort, "8443,443", keyHex);
    pc.client->attachSession(pc.weak());
  }

  bool runUntil(const std::function<bool()>& done, double seconds) { return loop.runUntil(done, seconds, 0.01); }

  // Datagrams a PC sent to the server so far.
  size_t sentToServer(const Pc& pc) const {
    size_t n = 0;
    for (auto& u : pc.sockets->udp) {
      for (auto& d : u->sent) n += d.to == Address{kServerIP, kServerPort};
    }
    for (auto& t : pc.sockets->tcp) n += t->sent.size();
    return n;
  }

  void send(const Endpoint& to, ByteView packet, bool) override {
    Bytes data(packet.begin(), packet.end());
    if (to.isTcp()) {
      for (auto& [record, conn] : tcpConn_) {
        if (conn == to.conn && record->alive() && !record->done) TcpRecord::deliver(record, std::move(data));
      }
      return;
    }
    for (auto& pc : pcs) {
      uint32_t ip = 0;
      parseIPv4(pc->ip, ip);
      if (ip != to.ip || pc->udpToServerBlocked) continue;
      for (auto& record : pc->sockets->udp) {
        if (record->localPort == to.port && record->alive()) {
          UdpRecord::deliver(record, std::move(data), Address{kServerIP, kServerPort});
          return;
        }
      }
    }
  }

  void close(const Endpoint& to) override {
    for (auto& [record, conn] : tcpConn_) {
      if (conn == to.conn) record->finish("the server closed the connection");
    }
  }

  ManualLoop loop;

 private:
  std::unique_ptr<ServerStore> store_;

 public:
  SigningKey key;
  std::vector<std::string> serverLog;

 private:
  std::set<uint16_t> tcpListening_;

 public:
  RelayServer server;
  std::vector<std::unique_ptr<Pc>> pcs;

 private:
  static RelayConfig configFor(const std::vector<uint16_t>& tcp) {
    RelayConfig config = testConfig();
    config.tcpPorts = tcp;
    return config;
  }

  Pc* pcAt(const Address& a, std::shared_ptr<UdpRecord>* record) {
    for (auto& pc : pcs) {
      if (pc->ip != a.ip) continue;
      for (auto& r : pc->sockets->udp) {
        if (r->localPort == a.port && r->alive()) {
          *record = r;
          return pc.get();
        }
      }
    }
    return nullptr;
  }

  void pump() {
    for (auto& pc : pcs) {
      uint32_t ip = 0;
      parseIPv4(pc->ip, ip);
      for (auto& record : pc->sockets->udp) {
        size_t& seen = udpSeen_[record.get()];
        for (; seen < record->sent.size(); ++seen) {
          const Datagram& d = record->sent[seen];
          if (d.to == Address{kServerIP, kServerPort}) {
            if (!pc->udpToServerBlocked) server.receive(Endpoint::udp(ip, record->localPort), d.data);
            continue;
          }
          std::shared_ptr<UdpRecord> target;
          Pc* other = pcAt(d.to, &target);
          if (other && !other->directBlocked && !pc->directBlocked) {
            UdpRecord::deliver(target, d.data, Address{pc->ip, record->localPort});
          }
        }
      }
      for (auto& record : pc->sockets->tcp) {
        auto [it, isNew] = tcpConn_.try_emplace(record, nextConn_);
        if (isNew) {
          ++nextConn_;
          if (tcpListening_.count(record->port)) {
            record->accept();
          } else {
            record->finish("Connection refused");
          }
        }
        Endpoint endpoint = Endpoint::tcp(ip, uint16_t(50000 + it->second), it->second);
        size_t& seen = tcpSeen_[record.get()];
        for (; seen < record->sent.size(); ++seen) server.receive(endpoint, record->sent[seen].first);
        if (record->done && record->connected == false && !tcpClosed_.count(record.get()) &&
            tcpListening_.count(record->port)) {
          tcpClosed_.insert(record.get());
          server.connectionClosed(endpoint);
        }
      }
    }
  }

  std::map<UdpRecord*, size_t> udpSeen_;
  std::map<std::shared_ptr<TcpRecord>, uint64_t> tcpConn_;
  std::map<TcpRecord*, size_t> tcpSeen_;
  std::set<TcpRecord*> tcpClosed_;
  uint64_t nextConn_ = 1;
  Timer pump_;
};

}  // namespace plimo::testkit
