// Partner rendezvous: asking the server for a partner, its PEER introduction,
// hole punching to every address of the partner (and through the server when
// it offers relaying), and locking the link to the path that answered first.
#include <algorithm>

#include "core/Failure.h"
#include "core/PlimoID.h"
#include "core/Weakly.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/link/PartnerSession.h"
#include "protocol/link/ServerSession.h"
#include "protocol/net/Net.h"

namespace plimo {

namespace {

// Words of the PEER reply.
constexpr size_t kPeerPublicIP = 1;
constexpr size_t kPeerPublicPort = 2;
constexpr size_t kPeerLanIP = 3;
constexpr size_t kPeerLanPort = 4;
constexpr size_t kPeerKey = 5;
constexpr size_t kPeerID = 6;
constexpr size_t kPeerName = 7;
constexpr size_t kPeerRelay = 8;
constexpr size_t kPeerMinWords = 7;
// Partners one own key may meet: a takeover needs 12 s of silence each, so
// this is days of them; beyond it the key is renewed like after a session.
constexpr size_t kMaxPartnersPerKey = 256;

uint16_t portOf(const std::string& word) {
  auto value = parseDecimal(word).value_or(0);
  return value > 0 && value <= 65535 ? uint16_t(value) : 0;
}

}  // namespace

void PlimoClient::PartnerSession::connect(const std::string& id) {
  if (phase_ == Phase::punching || phase_ == Phase::connected) return;
  if (!server_.up()) return failAttempt("Not connected to the server yet.");
  initiator_ = true;
  askedID_ = id;
  link_.log("Asking server for " + formatPlimoID(id));
  server_.sendLine("CONNECT " + id + " " + server_.localIP() + " " + std::to_string(server_.localPort()) + " " +
                   PlimoCrypto::hex(peerKey_.publicKey()));
}

void PlimoClient::PartnerSession::handlePeer(const std::vector<std::string>& words) {
  if (words.size() < kPeerMinWords) return;
  if (phase_ == Phase::connected && loop_.now() - lastPeerRx_ > peerTakeover) takeOver();
  if (phase_ == Phase::punching || phase_ == Phase::connected) return;
  if (initiator_ && words[kPeerID] != askedID_) {
    link_.log("The server introduced " + formatPlimoID(words[kPeerID]) + ", not " + formatPlimoID(askedID_) +
              " that this PC asked for; ignored");
    return;
  }

  partnerName_ = words.size() > kPeerName && words[kPeerName] != "-" ? words[kPeerName] : "";
  auto key = PlimoCrypto::fromHex(words[kPeerKey]);
  Bytes secret;
  try {
    if (key) secret = peerKey_.sharedSecret(*key);
  } catch (const Failure&) {
    key.reset();  // hex, but no point on the curve: as bad as no key
  }
  if (!key) return failAttempt("The partner sent an invalid key.");
  if (std::find(metWithKey_.begin(), metWithKey_.end(), *key) != metWithKey_.end() ||
      metWithKey_.size() >= kMaxPartnersPerKey) {
    // Ending the attempt renews this side's key, so a real partner asking
    // again gets fresh session keys.
    link_.log("The partner's key was already used with this PC's key; refused, so that no session keys repeat");
    return failAttempt("The partner sent an invalid key.");
  }
  metWithKey_.push_back(*key);
  peerChannel_ = SecureChannel::toPartner(PlimoCrypto::derivePeerKeys(secret, peerKey_.publicKey(), *key));
  checkNumber_ = PlimoCrypto::checkNumber(peerKey_.publicKey(), *key);
  partnerID_ = words[kPeerID];

  Address publicAddress{words[kPeerPublicIP], portOf(words[kPeerPublicPort])};
  Address lanAddress{words[kPeerLanIP], portOf(words[kPeerLanPort])};
  candidates_.clear();
  // An address without IP or port cannot be punched; an empty IP would even
  // send the punches through the server.
  for (const Address& a : {publicAddress, lanAddress}) {
    bool known = std::find(candidates_.begin(), candidates_.end(), a) != candidates_.end();
    if (!a.ip.empty() && a.port != 0 && !known) candidates_.push_back(a);
  }

  partnerRelay_ = '-';
  if (words.size() > kPeerRelay && (words[kPeerRelay] == "U" || words[kPeerRelay] == "T")) {
    partnerRelay_ = words[kPeerRelay][0];
  }
  viaRelay_ = false;
  relayPunch_ = partnerRelay_ != '-' && (partnerRelay_ == 'T' || server_.onTcp());

  Attempt attempt;
  attempt.partnerID = partnerID_;
  attempt.started = loop_.wallNow();
  attempt.publicAddress = publicAddress.text();
  attempt.lanAddress = lanAddress.text();
  attempt.outcome = "in progress";
  attempt.relayOffered = partnerRelay_ == '-'
                             ? "no (older server)"
                             : std::string("yes, other PC on ") + (partnerRelay_ == 'T' ? "TCP" : "UDP");
  lastAttempt_ = std::move(attempt);

  if (relayPunch_) {
    candidates_.clear();
    link_.log("Partner " + formatPlimoID(partnerID_) +
              "; one of us is on the TCP fallback, so the session goes through the server");
  } else {
    link_.log("Partner " + formatPlimoID(partnerID_) + " is at " + publicAddress.text() + " (LAN " +
              lanAddress.text() + "), punching...");
  }

  phase_ = Phase::punching;
  punchTries_ = 0;
  punchRx_ = 0;
  punchOpened_ = 0;
  punch();
  if (phase_ == Phase::punching) {
    punchTimer_ =
        loop_.every(punchInterval, weakly(link_.weak_from_this(), [](PlimoClient& self) { self.partner_->punch(); }));
  }
}

// A new partner asks while the current one has been silent for a while: the
// old session makes way without a word to the old partner (it is not
// answering anyway). The key stays: the new partner was given it already.
void PlimoClient::PartnerSession::takeOver() {
  auto keep = link_.shared_from_this();
  punchTimer_.reset();
  pingTimer_.reset();
  peerChannel_.reset();
  checkNumber_.clear();
  initiator_ = false;
  phase_ = Phase::idle;
  server_.sendLine("SESSION END");
  link_.log("The previous partner stopped answering; it makes way for the new one");
  link_.tell(&LinkEvents::onDisconnected);
}

void PlimoClient::PartnerSession::punch() {
  ++punchTries_;
  if (punchTries_ > punchMaxTries) return giveUpPunching();
  std::string line = "PUNCH " + server_.myID();
  for (const Address& candidate : candidates_) sendPeer(line, candidate);
  if (partnerRelay_ != '-' && punchTries_ >= relayPunchAfter) relayPunch_ = true;
  if (relayPunch_) sendPeer(line, Address{});
}

void PlimoClient::PartnerSession::giveUpPunching() {
  const DatagramLink* socket = link_.socket_.get();
  std::string sendError = socket ? socket->lastSendError() : "";
  bool blocked = socket && socket->localNetworkBlocked();
  if (lastAttempt_) {
    Attempt& a = *lastAttempt_;
    a.packetsIn = punchRx_;
    a.packetsDecrypted = punchOpened_;
    a.sendError = sendError;
    a.localNetworkBlocked = blocked;
    a.triedRelay = relayPunch_;
    a.outcome = relayPunch_ ? "failed: no answer directly or through the server after 10 s"
                            : "failed: no direct path after 10 s";
  }
  link_.log("Punch diagnostics: " + std::to_string(punchRx_) + " packet(s) from other addresses, " +
            std::to_string(punchOpened_) + " decrypted; last send error: " +
            (sendError.empty() ? "none" : sendError));
  if (blocked) {
    failAttempt(
        "The firewall of this PC does not let Plimo reach the other PC on your network. Allow Plimo's UDP "
        "traffic in the firewall (for example with ufw), then connect again.");
  } else if (partnerRelay_ != '-') {
    failAttempt("Could not reach the other PC, directly or through the server. Help > Connection Test shows where "
                "it stops.");
  } else {
    failAttempt("Could not reach the other PC directly. One of the networks blocks it.");
  }
}

void PlimoClient::PartnerSession::lockPeer(const Address& address) {
  if (phase_ != Phase::punching) return;
  punchTimer_.reset();
  peer_ = address;
  viaRelay_ = address.ip.empty();
  if (lastAttempt_) {
    lastAttempt_->outcome = "connected";
    lastAttempt_->path = viaRelay_ ? "through the server" : address.text();
  }
  phase_ = Phase::connected;
  lastPeerRx_ = loop_.now();
  pingTimer_ = loop_.every(pingInterval, weakly(link_.weak_from_this(), [](PlimoClient& self) {
    PartnerSession& partner = *self.partner_;
    if (partner.phase_ == Phase::connected) partner.sendPeer("PING", partner.peer_);
  }));
  if (viaRelay_) {
    link_.log(
        "Encrypted link to the other PC through the server (no direct path; the server passes the packets on but "
        "cannot read them, AES-256-GCM). Check number " +
        checkNumber_);
  } else {
    link_.log("Direct encrypted link to " + address.text() + " (AES-256-GCM). Check number " + checkNumber_);
  }
  server_.sendLine("SESSION START " + partnerID_ + " " + (initiator_ ? "V" : "H"));
  auto keep = link_.shared_from_this();
  link_.tell(&LinkEvents::onConnected);
}

}  // namespace plimo
