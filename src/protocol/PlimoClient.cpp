#include "protocol/PlimoClient.h"

#include "protocol/Net.h"
#include "protocol/PlimoCrypto.h"
#include "protocol/ServerPackets.h"

namespace plimo {

namespace {

// "Long ago": every interval measured from it has passed.
constexpr double kDistantPast = -1e12;

}  // namespace

std::shared_ptr<PlimoClient> PlimoClient::create(EventLoop& loop, SocketFactory& sockets,
                                                 std::string relayHost, uint16_t relayPort,
                                                 std::string_view tcpPortsText,
                                                 std::string_view relayKeyHex) {
  return std::shared_ptr<PlimoClient>(
      new PlimoClient(loop, sockets, std::move(relayHost), relayPort, tcpPortsText, relayKeyHex));
}

PlimoClient::PlimoClient(EventLoop& loop, SocketFactory& sockets, std::string host, uint16_t port,
                         std::string_view tcpPortsText, std::string_view relayKeyHex)
    : relayHost(std::move(host)),
      relayPort(port),
      tcpPorts(parsePortList(tcpPortsText)),
      lastHello(kDistantPast),
      lastRelayRx(kDistantPast),
      testStart(loop.now()),
      lastPeerRx(kDistantPast),
      loop_(loop),
      sockets_(sockets) {
  tcpPort = tcpPorts.empty() ? 0 : tcpPorts.front();
  auto key = PlimoCrypto::fromHex(trimWhitespace(relayKeyHex));
  if (key && key->size() == PlimoCrypto::kPublicKeySize) relayKey = std::move(*key);
}

PlimoClient::~PlimoClient() = default;

void PlimoClient::start() {
  std::weak_ptr<PlimoClient> weak = weak_from_this();
  socket = sockets_.openUdp([weak](Bytes data, const Address& from) {
    if (auto self = weak.lock()) self->processPacket(data, from);
  });
  localIP = sockets_.localIPv4();
  peerKey = EcdhKey();
  if (!relayKey) log("No server key in Plimo.ini yet; the first key the server shows will be pinned.");
  tickTimer = makeTimer(tickInterval, [](PlimoClient& self) { self.tick(); });
  resolveRelay();
  tick();
}

Timer PlimoClient::makeTimer(double interval, std::function<void(PlimoClient&)> action) {
  std::weak_ptr<PlimoClient> weak = weak_from_this();
  return loop_.every(interval, [weak, action = std::move(action)] {
    if (auto self = weak.lock()) action(*self);
  });
}

void PlimoClient::stop() {
  auto keep = shared_from_this();
  if (state == State::connected) disconnect();
  if (relay) sendRelay("BYE");
  if (tcp) {
    std::shared_ptr<StreamLink> link = std::move(tcp);
    closingTcp_ = loop_.after(tcpCloseDelay, [link] { link->cancel(); });
  }
  tickTimer.reset();
  punchTimer.reset();
  pingTimer.reset();
  socket.reset();
}

std::string PlimoClient::transport() const {
  if (tcp) return "TCP " + std::to_string(tcpPort);
  return "UDP " + std::to_string(relayPort);
}

std::string PlimoClient::relayAddressText() const {
  if (relayIP.empty()) return "(not resolved)";
  return relayIP + ":" + std::to_string(relayPort);
}

void PlimoClient::resolveRelay() {
  if (!relayIP.empty() || resolving) return;
  resolving = true;
  lastResolve = loop_.now();
  std::weak_ptr<PlimoClient> weak = weak_from_this();
  sockets_.resolveIPv4(relayHost, [weak](std::optional<std::string> ip) {
    auto self = weak.lock();
    if (!self) return;
    self->resolving = false;
    if (!self->socket) return;  // stopped meanwhile
    if (ip) {
      self->relayIP = *ip;
      self->log("Socket open on " + self->localIP + ":" + std::to_string(self->socket->localPort()) +
                ", server " + self->relayHost + " (" + self->relayAddressText() + ")");
      self->tick();
    } else {
      self->log("Cannot find server " + self->relayHost);
      self->status("Server not found");
    }
  });
}

void PlimoClient::processPacket(ByteView data, const Address& from) {
  if (data.empty()) return;
  if (!relayIP.empty() && from == relayAddress()) {
    if (data[0] == ServerPacket::kRelayed && data.size() >= 2) return handlePeerPacket(data.subspan(1), Address{});
    return handleRelayPacket(data);
  }
  if (data[0] == SecureChannel::kPeerType) return handlePeerPacket(data, from);
  if (state == State::punching) {
    log("Unexpected packet from " + from.text() + " (type " + std::to_string(data[0]) + ")");
  }
}

void PlimoClient::tick() {
  // A callback below may drop the owner's last reference.
  auto keep = shared_from_this();
  double now = loop_.now();
  if (!testToken.empty() && now - testStart > testTimeout) {
    finishTest(false, relayIP.empty()
                          ? "Cannot find server " + relayHost
                          : "No answer from the server. Check that it runs and that UDP port " +
                                std::to_string(relayPort) + " is open in its firewall.");
  }
  if (tcp && tcp->done()) tcpEnded();
  if (state == State::connected && now - lastPeerRx > peerTimeout) {
    peerGone("The other PC stopped answering; the session has ended.");
  }
  if (relayBlocked) return;
  if (relayIP.empty()) {
    if (!lastResolve || now - *lastResolve >= resolveRetry) resolveRelay();
    return;
  }
  if (relay) {
    if (now - lastRelayRx > relayTimeout) {
      dropRelay("Lost contact with the server, reconnecting...");
    } else if (now - lastHello >= helloInterval) {
      sendHello();
    }
    return;
  }
  if (lastHandshake && now - *lastHandshake < handshakeRetry) return;
  sendHandshakeByTransportRule();
}

void PlimoClient::dropRelay(const std::string& reason) {
  relay.reset();
  lastHandshake.reset();
  log(reason);
  status("Reconnecting to server...");
}

void PlimoClient::log(const std::string& text) {
  if (onLog) onLog(text);
}

void PlimoClient::status(const std::string& text) {
  if (onRelayStatus) onRelayStatus(text);
}

}  // namespace plimo
