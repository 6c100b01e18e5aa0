// Partner rendezvous: asking the server for a partner, its PEER introduction,
// the hole punching it starts, and locking the link to the path that answered
// first.
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
                   PlimoCrypto::hex(keys_.offered().publicKey()));
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
  auto meeting = keys_.meet(words[kPeerKey]);
  if (!meeting) return failAttempt("The partner sent an invalid key.");
  peerChannel_ = std::move(meeting->channel);
  checkNumber_ = std::move(meeting->checkNumber);
  fingerprints_ = std::move(meeting->fingerprints);
  partnerID_ = words[kPeerID];

  char relay = '-';  // as HolePunch::plan takes it
  if (words.size() > kPeerRelay && (words[kPeerRelay] == "U" || words[kPeerRelay] == "T")) relay = words[kPeerRelay][0];
  viaRelay_ = false;
  holePunch_.plan(partnerID_, Address{words[kPeerPublicIP], portOf(words[kPeerPublicPort])},
                  Address{words[kPeerLanIP], portOf(words[kPeerLanPort])}, relay);
  phase_ = Phase::punching;
  holePunch_.start();
}

// A new partner asks while the current one has been silent for a while: the
// old session makes way without a word to the old partner (it is not
// answering anyway). The key stays: the new partner was given it already.
void PlimoClient::PartnerSession::takeOver() {
  auto keep = link_.shared_from_this();
  holePunch_.stop();
  pingTimer_.reset();
  peerChannel_.reset();
  checkNumber_.clear();
  fingerprints_ = {};
  initiator_ = false;
  phase_ = Phase::idle;
  server_.sendLine("SESSION END");
  link_.log("The previous partner stopped answering; it makes way for the new one");
  link_.tell(&LinkEvents::onDisconnected);
}

void PlimoClient::PartnerSession::lockPeer(const Address& address) {
  if (phase_ != Phase::punching) return;
  holePunch_.locked(address);
  peer_ = address;
  viaRelay_ = address.ip.empty();
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
