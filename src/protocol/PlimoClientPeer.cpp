// The partner side of the server link once a partner channel exists: partner
// packets and control lines, session data, and the end of a session.
#include "core/Text.h"
#include "protocol/PlimoClient.h"
#include "protocol/ServerPackets.h"

namespace plimo {

namespace {

// Words of a control line: split at spaces, empty words dropped.
std::vector<std::string> controlWords(std::string_view line) {
  std::vector<std::string> words;
  size_t from = 0;
  while (from < line.size()) {
    size_t space = line.find(' ', from);
    if (space == std::string_view::npos) space = line.size();
    if (space > from) words.emplace_back(line.substr(from, space - from));
    from = space + 1;
  }
  return words;
}

}  // namespace

// Partner packets: direct (0xC0 from any address) or passed on by the server
// (an empty `from`). A connected side takes them from any path, not only the
// one it locked to: each side locks to the first path that answered it, so
// the two may have locked differently, and the partner then sends on a path
// this side does not send on. Only the partner's keys open a packet, and the
// replay window refuses copies, so the path adds nothing to trust.
void PlimoClient::handlePeerPacket(ByteView sealed, const Address& from) {
  bool direct = !from.ip.empty();
  if (state == State::punching) {
    if (direct) ++punchRx;
  } else if (state != State::connected) {
    return;
  }
  if (!peerChannel) return;
  auto plain = peerChannel->open(sealed);
  if (!plain || plain->empty()) return;
  if (state == State::punching && direct) ++punchOpened;
  lastPeerRx = loop_.now();
  // A callback below may drop the owner's last reference.
  auto keep = shared_from_this();
  if ((*plain)[0] >= 0x80) {
    // Session data belongs to a locked link; while punching there is no
    // session to take it yet.
    if (state == State::connected && onData) onData(*plain);
    return;
  }
  handleControl(std::string(trimWhitespace(utf8Lossy(toString(*plain)))), from);
}

void PlimoClient::handleControl(const std::string& line, const Address& from) {
  auto words = controlWords(line);
  if (words.empty()) return;
  const std::string& word = words[0];
  if (word == "PUNCH") {
    // Answered on a locked link too: the partner may still be punching.
    sendPeer("PUNCHACK", from);
    lockPeer(from);
  } else if (word == "PUNCHACK") {
    lockPeer(from);
  } else if (word == "MSG" && state == State::connected) {
    if (onMessage) onMessage(line.size() > 4 ? line.substr(4) : "");
  } else if (word == "BYE" && state == State::connected) {
    endSession(false);
    log("Partner disconnected");
    if (onDisconnected) onDisconnected();
  }
  // PING only refreshes lastPeerRx, done already; other words are ignored.
}

void PlimoClient::handlePartnerGone() {
  if (state == State::connected) {
    // Traffic from the partner says the link works even if the partner's
    // server session is gone.
    if (loop_.now() - lastPeerRx > partnerGoneQuiet) {
      peerGone("The other PC went offline; the session has ended.");
    }
  } else if (state == State::punching) {
    failAttempt("The other PC went offline.");
  }
}

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
  Bytes packet{ServerPacket::kRelayed};
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
