// The partner side of the server link: ending sessions, session data, and the
// points where the partner rendezvous plugs in.
#include "protocol/PlimoClient.h"

namespace plimo {

// Partner packets, direct (0xC0 from any address) or passed on by the server
// (an empty `from`). Hole punching and the locked link are not built yet; until
// they are, no partner channel exists and every partner packet is dropped here.
void PlimoClient::handlePeerPacket(ByteView, const Address&) {}

// The server's PEER introduction. Not built yet: without the rendezvous the
// client stays registered and the introduction is ignored.
void PlimoClient::handlePeer(const std::vector<std::string>&) {}

// The server's PARTNER GONE. Not built yet, together with the rendezvous;
// no partner session can exist before it, so there is nothing to end.
void PlimoClient::handlePartnerGone() {}

void PlimoClient::disconnect() {
  if (state == State::punching) {
    failAttempt("Cancelled.");
  } else if (state == State::connected) {
    auto keep = shared_from_this();
    endSession(true);
    log("Disconnected");
    if (onDisconnected) onDisconnected();
  }
}

void PlimoClient::sendData(ByteView data) {
  if (state != State::connected || !peerChannel || data.empty()) return;
  sendPeerPacket(peerChannel->seal(data), peer);
}

void PlimoClient::sendPeer(const std::string& text, const Address& to) {
  if (!peerChannel) return;
  sendPeerPacket(peerChannel->seal(toBytes(text)), to);
}

void PlimoClient::sendPeerPacket(ByteView sealed, const Address& to) {
  if (!to.ip.empty()) return sendRaw(sealed, to);
  if (relayIP.empty()) return;
  Bytes packet{kRelayed};
  append(packet, sealed);
  sendRaw(packet, relayAddress());
}

void PlimoClient::endSession(bool notifyPeer) {
  bool wasConnected = state == State::connected;
  if (wasConnected && notifyPeer) sendPeer("BYE", peer);
  punchTimer.reset();
  pingTimer.reset();
  state = myID != "0" ? State::registered : State::offline;
  viaRelay = false;
  relayPunch = false;
  peerChannel.reset();
  checkNumber.clear();
  initiator = false;
  if (wasConnected) sendRelay("SESSION END");
  // Every session gets a fresh key; HELLO tells the server the new one.
  peerKey = EcdhKey();
  if (relay) sendHello();
}

void PlimoClient::peerGone(const std::string& reason) {
  if (state != State::connected) return;
  auto keep = shared_from_this();
  endSession(false);
  log(reason);
  if (onDisconnected) onDisconnected();
}

// Ends the attempt being set up without telling the partner, and says why.
void PlimoClient::failAttempt(const std::string& text) {
  auto keep = shared_from_this();
  endSession(false);
  log(text);
  if (onFailed) onFailed(text);
}

}  // namespace plimo
