// The partner side of the link once a partner channel exists: partner
// packets and control lines, session data, and the end of a session.
#include "core/Text.h"
#include "protocol/link/PartnerSession.h"
#include "protocol/link/ServerSession.h"

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

PlimoClient::PartnerSession::PartnerSession(PlimoClient& link)
    : link_(link),
      loop_(link.loop_),
      server_(*link.server_),
      keys_(link),
      holePunch_(link, *this),
      lastPeerRx_(kDistantPast) {}

PlimoClient::PartnerSession::~PartnerSession() = default;

// Partner packets: direct (0xC0 from any address) or passed on by the server
// (an empty `from`). A connected side takes them from any path, not only the
// one it locked to: each side locks to the first path that answered it, so
// the two may have locked differently, and the partner then sends on a path
// this side does not send on. Only the partner's keys open a packet, and the
// replay window refuses copies, so the path adds nothing to trust.
void PlimoClient::PartnerSession::handlePacket(ByteView sealed, const Address& from) {
  bool direct = !from.ip.empty();
  if (phase_ == Phase::punching) {
    if (direct) holePunch_.countReceived();
  } else if (phase_ != Phase::connected) {
    return;
  }
  if (!peerChannel_) return;
  auto plain = peerChannel_->open(sealed);
  if (!plain || plain->empty()) return;
  if (phase_ == Phase::punching && direct) holePunch_.countOpened();
  lastPeerRx_ = loop_.now();
  // An event below may drop the owner's last reference.
  auto keep = link_.shared_from_this();
  if ((*plain)[0] >= 0x80) {
    // Session data belongs to a locked link; while punching there is no
    // session to take it yet.
    if (phase_ == Phase::connected) link_.sessionData(*plain);
    return;
  }
  handleControl(std::string(trimWhitespace(utf8Lossy(toString(*plain)))), from);
}

void PlimoClient::PartnerSession::handleControl(const std::string& line, const Address& from) {
  auto words = controlWords(line);
  if (words.empty()) return;
  const std::string& word = words[0];
  if (word == "PUNCH") {
    // Answered on a locked link too: the partner may still be punching.
    sendPeer("PUNCHACK", from);
    lockPeer(from);
  } else if (word == "PUNCHACK") {
    lockPeer(from);
  } else if (word == "MSG" && phase_ == Phase::connected) {
    link_.tell(&LinkEvents::onMessage, line.size() > 4 ? line.substr(4) : "");
  } else if (word == "BYE") {
    hangUp(false, "Partner disconnected");
  }
  // PING only refreshes lastPeerRx_, done already; other words are ignored.
}

void PlimoClient::PartnerSession::handlePartnerGone() {
  if (phase_ == Phase::connected) {
    // Traffic from the partner says the link works even if the partner's
    // server session is gone.
    if (loop_.now() - lastPeerRx_ > partnerGoneQuiet) {
      hangUp(false, "The other PC went offline; the session has ended.");
    }
  } else if (phase_ == Phase::punching) {
    failAttempt("The other PC went offline.");
  }
}

void PlimoClient::PartnerSession::checkSilence() {
  if (phase_ == Phase::connected && loop_.now() - lastPeerRx_ > peerTimeout) {
    hangUp(false, "The other PC stopped answering; the session has ended.");
  }
}

void PlimoClient::PartnerSession::stopTimers() {
  holePunch_.stop();
  pingTimer_.reset();
}

void PlimoClient::PartnerSession::disconnect() {
  if (phase_ == Phase::punching) return failAttempt("Cancelled.");
  hangUp(true, "Disconnected");
}

void PlimoClient::PartnerSession::sendData(ByteView data) {
  if (phase_ != Phase::connected || !peerChannel_ || data.empty()) return;
  sendPeerPacket(peerChannel_->seal(data), peer_);
}

void PlimoClient::PartnerSession::sendPeer(const std::string& text, const Address& to) {
  if (!peerChannel_) return;
  sendPeerPacket(peerChannel_->seal(toBytes(text)), to);
}

void PlimoClient::PartnerSession::sendPeerPacket(ByteView sealed, const Address& to) {
  if (to.ip.empty()) return server_.transport().sendRelayed(sealed);
  server_.transport().send(sealed, to);
}

void PlimoClient::PartnerSession::endSession(bool notifyPeer) {
  bool wasConnected = phase_ == Phase::connected;
  if (wasConnected && notifyPeer) sendPeer("BYE", peer_);
  stopTimers();
  phase_ = Phase::idle;
  viaRelay_ = false;
  peerChannel_.reset();
  checkNumber_.clear();
  fingerprints_ = {};
  initiator_ = false;
  if (wasConnected) server_.sendLine("SESSION END");
  // Every session gets a fresh key; HELLO tells the server the new one.
  keys_.renew();
  if (server_.up()) server_.sendHello();
}

// Ends a connected session (nothing in another phase) and says why.
void PlimoClient::PartnerSession::hangUp(bool notifyPeer, const std::string& reason) {
  if (phase_ != Phase::connected) return;
  auto keep = link_.shared_from_this();
  endSession(notifyPeer);
  link_.log(reason);
  link_.tell(&LinkEvents::onDisconnected);
}

// Ends the attempt being set up without telling the partner, and says why.
void PlimoClient::PartnerSession::failAttempt(const std::string& text) {
  auto keep = link_.shared_from_this();
  endSession(false);
  link_.log(text);
  link_.tell(&LinkEvents::onFailed, text);
}

}  // namespace plimo
