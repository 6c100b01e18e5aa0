// The server session's life: start and stop, its share of the tick, and
// finding the server's address.
#include "protocol/link/ServerSession.h"

#include "core/Weakly.h"

namespace plimo {

PlimoClient::ServerSession::ServerSession(PlimoClient& link, std::string host, uint16_t port,
                                          std::string_view tcpPortsText, std::string_view relayKeyHex)
    : link_(link),
      loop_(link.loop_),
      relayHost_(std::move(host)),
      relayPort_(port),
      transport_(link, *this, tcpPortsText),
      handshake_(link, relayKeyHex),
      lastHello_(kDistantPast),
      lastRelayRx_(kDistantPast),
      test_(link),
      registration_(link, *this) {}

PlimoClient::ServerSession::~ServerSession() = default;

void PlimoClient::ServerSession::start() {
  localIP_ = link_.sockets_.localIPv4();
  if (!key()) link_.log("No server key in Plimo.ini yet; the first key the server shows will be pinned.");
  resolveRelay();
}

void PlimoClient::ServerSession::stop() {
  if (relay_) sendLine("BYE");
  transport_.close();
}

void PlimoClient::ServerSession::checkEnded() {
  test_.checkTimeout();
  transport_.checkEnded();
}

void PlimoClient::ServerSession::keepContact() {
  if (blocked()) return;
  double now = loop_.now();
  if (relayIP_.empty()) {
    if (!lastResolve_ || now - *lastResolve_ >= resolveRetry) resolveRelay();
    return;
  }
  if (relay_) {
    if (now - lastRelayRx_ > relayTimeout) {
      dropRelay("Lost contact with the server, reconnecting...");
    } else if (now - lastHello_ >= helloInterval) {
      sendHello();
    }
    return;
  }
  if (lastHandshake_ && now - *lastHandshake_ < handshakeRetry) return;
  if (transport_.nextHandshake()) sendRelayHandshake();
}

bool PlimoClient::ServerSession::isServer(const Address& from) const {
  return !relayIP_.empty() && from == relayAddress();
}

uint16_t PlimoClient::ServerSession::localPort() const {
  return link_.socket_ ? link_.socket_->localPort() : 0;
}

std::string PlimoClient::ServerSession::addressText() const {
  if (relayIP_.empty()) return "(not resolved)";
  return relayIP_ + ":" + std::to_string(relayPort_);
}

void PlimoClient::ServerSession::resolveRelay() {
  if (!relayIP_.empty() || resolving_) return;
  resolving_ = true;
  lastResolve_ = loop_.now();
  link_.sockets_.resolveIPv4(
      relayHost_,
      weakly<std::optional<std::string>>(link_.weak_from_this(), [](PlimoClient& self, std::optional<std::string> ip) {
        self.server_->resolved(std::move(ip));
      }));
}

void PlimoClient::ServerSession::resolved(std::optional<std::string> ip) {
  resolving_ = false;
  if (!link_.socket_) return;  // stopped meanwhile
  if (ip) {
    relayIP_ = *ip;
    link_.log("Socket open on " + localIP_ + ":" + std::to_string(localPort()) + ", server " + relayHost_ +
              " (" + addressText() + ")");
    link_.tick();
  } else {
    link_.log("Cannot find server " + relayHost_);
    status("Server not found");
  }
}

void PlimoClient::ServerSession::testRelay() {
  if (!test_.start()) return;
  if (blocked()) return test_.finish(false, "Server key does not match Plimo.ini");
  if (relay_) return sendLine(test_.ping());
  // Start resolving and handshaking now; the welcome sends the PING.
  lastHandshake_.reset();
  lastResolve_.reset();
  link_.tick();
}

void PlimoClient::ServerSession::dropRelay(const std::string& reason) {
  relay_.reset();
  lastHandshake_.reset();
  link_.log(reason);
  status("Reconnecting to server...");
}

void PlimoClient::ServerSession::status(const std::string& text) { link_.tell(&LinkEvents::onRelayStatus, text); }

}  // namespace plimo
