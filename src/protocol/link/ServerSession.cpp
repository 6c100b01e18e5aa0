// The server session's life: start and stop, its share of the tick.
#include "protocol/link/ServerSession.h"

#include <algorithm>

namespace plimo {

PlimoClient::ServerSession::ServerSession(PlimoClient& link, std::string host, uint16_t port,
                                          std::string_view tcpPortsText, std::string_view relayKeyHex)
    : link_(link),
      loop_(link.loop_),
      address_(link, *this, std::move(host), port),
      transport_(link, *this, tcpPortsText),
      handshake_(link, relayKeyHex),
      lastHello_(kDistantPast),
      lastRelayRx_(kDistantPast),
      addressSince_(kDistantPast),
      test_(link),
      registration_(link, *this) {}

PlimoClient::ServerSession::~ServerSession() = default;

void PlimoClient::ServerSession::start() {
  localIP_ = link_.sockets_.localIPv4();
  if (!key()) link_.log("No server key in Plimo.ini yet; the first key the server shows will be pinned.");
  addressSince_ = loop_.now();
  address_.resolve();
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
  if (!address_.known()) return address_.keepResolving();
  if (relay_) {
    if (now - lastRelayRx_ > relayTimeout) {
      dropRelay("Lost contact with the server, reconnecting...");
    } else if (now - lastHello_ >= helloInterval) {
      sendHello();
    }
    return;
  }
  if (now - std::max(lastRelayRx_, addressSince_) >= addressPatience) {
    // A silent server of a fleet: another one of its name, keeping the ID
    // through its PIN.
    addressSince_ = now;
    if (address_.failOver()) lastHandshake_.reset();
  }
  if (lastHandshake_ && now - *lastHandshake_ < handshakeRetry) return;
  if (transport_.nextHandshake()) sendRelayHandshake();
}

uint16_t PlimoClient::ServerSession::localPort() const {
  return link_.socket_ ? link_.socket_->localPort() : 0;
}

void PlimoClient::ServerSession::testRelay() {
  if (!test_.start()) return;
  if (blocked()) return test_.finish(false, "Server key does not match Plimo.ini");
  if (relay_) return sendLine(test_.ping());
  // Start resolving and handshaking now; the welcome sends the PING.
  lastHandshake_.reset();
  address_.retryNow();
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
