#pragma once
// A RelayServer on a ManualLoop with an in-memory database and a sink that
// records what it sends, and protocol-speaking clients at chosen endpoints.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/ManualLoop.h"
#include "protocol/crypto/SigningKey.h"
#include "server/ClientCodec.h"
#include "server/RelayServer.h"
#include "server/ServerStore.h"

namespace plimo::testkit {

struct RecordingSink final : PacketSink {
  struct Sent {
    Endpoint to;
    Bytes packet;
    bool droppable;
  };
  std::vector<Sent> sent;
  std::vector<Endpoint> closed;
  void send(const Endpoint& to, ByteView packet, bool droppable) override {
    sent.push_back({to, Bytes(packet.begin(), packet.end()), droppable});
  }
  void close(const Endpoint& to) override { closed.push_back(to); }
};

inline RelayConfig testConfig() {
  RelayConfig config;
  config.udpPort = 47800;
  config.tcpPorts = {8443, 443};
  config.maxSessions = 1000;
  config.handshakeRate = 1000;
  // The handshake budget is measured in real CPU time while these tests run
  // on virtual time: results would depend on the machine. The budget's own
  // test sets it.
  config.handshakeShare = 1e9;
  return config;
}

// The store at `path`, or nothing when it does not open.
inline std::unique_ptr<ServerStore> openStore(const std::string& path) {
  auto opened = ServerStore::open(path);
  return opened ? std::move(*opened) : nullptr;
}

inline std::unique_ptr<ServerStore> memoryStore() { return openStore(":memory:"); }

struct ServerRig {
  explicit ServerRig(RelayConfig config = testConfig(), SigningKey serverKey = SigningKey::generate(),
                     std::unique_ptr<ServerStore> own = memoryStore())
      : store(std::move(own)),
        key(std::move(serverKey)),
        server(loop, *store, key, sink, config, [this](const std::string& t) { logs.push_back(t); }) {}

  bool logged(const std::string& part) const {
    for (auto& l : logs) {
      if (l.find(part) != std::string::npos) return true;
    }
    return false;
  }

  ManualLoop loop;
  std::unique_ptr<ServerStore> store;
  SigningKey key;
  RecordingSink sink;
  std::vector<std::string> logs;
  RelayServer server;
};

// One client at one endpoint, speaking through the rig.
struct RigClient {
  RigClient(ServerRig& server, Endpoint at) : rig(server), endpoint(at) {}

  static Endpoint udp(uint16_t port, uint32_t ip = 0x7F000001) { return Endpoint::udp(ip, port); }

  // Raw packets the server sent here since the last call.
  std::vector<Bytes> received() {
    std::vector<Bytes> out;
    for (; seen < rig.sink.sent.size(); ++seen) {
      if (rig.sink.sent[seen].to == endpoint) out.push_back(rig.sink.sent[seen].packet);
    }
    return out;
  }

  // Handshake and welcome; true when a verified welcome came back.
  bool handshake() {
    rig.server.receive(endpoint, codec.handshake());
    for (auto& packet : received()) {
      if (codec.welcome(packet)) return true;
    }
    return false;
  }

  // Sends a sealed line; returns the lines the server answered with.
  std::vector<std::string> say(const std::string& line) {
    rig.server.receive(endpoint, codec.seal(line));
    return lines();
  }

  std::vector<std::string> lines() {
    std::vector<std::string> out;
    for (auto& packet : received()) {
      if (auto line = codec.open(packet)) out.push_back(*line);
    }
    return out;
  }

  // Handshake and HELLO; the ID the server gave ("" when none).
  std::string registerAs(const std::string& wanted = "0") {
    if (!handshake()) return {};
    for (auto& line : say("HELLO " + wanted + " 192.168.1.20 40000 " + std::string(128, 'A') + " 127.0.0.1 0")) {
      if (line.rfind("ID ", 0) == 0) return line.substr(3, 9);
    }
    return {};
  }

  ServerRig& rig;
  Endpoint endpoint;
  ClientCodec codec;
  size_t seen = 0;
};

}  // namespace plimo::testkit
