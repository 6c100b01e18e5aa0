// The secure server session: handshakes, what a welcome sets off, packets
// from the server, sealed lines.
#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/link/ServerSession.h"
#include "protocol/net/Net.h"
#include "protocol/wire/ServerPackets.h"

namespace plimo {

void PlimoClient::ServerSession::sendRelayHandshake() {
  Bytes packet = handshake_.packet();
  lastHandshake_ = loop_.now();
  transport_.send(packet, address_.endpoint());
}

void PlimoClient::ServerSession::handlePacket(ByteView data) {
  switch (data[0]) {
    case ServerPacket::kReset:
      if (relay_) dropRelay("The server asked for a new secure session");
      return;
    case ServerPacket::kSealed: {
      if (!relay_) return;
      auto plain = relay_->open(data);
      // A packet that does not open is not a sign of the server.
      if (!plain) return;
      lastRelayRx_ = loop_.now();
      handleRelayText(std::string(trimWhitespace(utf8Lossy(toString(*plain)))));
      return;
    }
    case ServerPacket::kWelcome:
      return handleWelcome(data);
    default:
      return;
  }
}

void PlimoClient::ServerSession::handleWelcome(ByteView data) {
  if (relay_) return;
  auto welcome = handshake_.accept(data);
  if (welcome.refused) {
    auto keep = link_.shared_from_this();
    status("Server key mismatch");
    test_.finish(false, "Server key does not match Plimo.ini");
    return;
  }
  if (!welcome.channel) return;
  relay_ = std::move(welcome.channel);
  lastRelayRx_ = loop_.now();
  transport_.welcomed();

  auto keep = link_.shared_from_this();  // an event below may drop the owner's last reference
  const Bytes& key = *handshake_.key();
  std::string fingerprint = PlimoCrypto::keyFingerprint(key);
  link_.log("Secure connection to the server (AES-256-GCM) over " + transport_.text() + ", server key " + fingerprint);
  if (welcome.pinnedNow) {
    link_.log("Server key pinned. Compare " + fingerprint + " with the key shown on the server.");
    link_.tell(&LinkEvents::onRelayKeyPinned, PlimoCrypto::hex(key));
  }
  status("Secure connection to server");
  if (!link_.socket_) return;  // the owner stopped the link from an event
  sendHello();
  if (link_.state() == State::connected) {
    sendLine("SESSION START " + link_.partnerID() + " " + (link_.initiator() ? "V" : "H") + " 0");
  }
  if (test_.running()) sendLine(test_.ping());
}

void PlimoClient::ServerSession::sendLine(const std::string& text) {
  if (!relay_) return;
  transport_.send(relay_->seal(toBytes(text)), address_.endpoint());
}

}  // namespace plimo
