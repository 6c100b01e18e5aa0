// Partner rendezvous: asking the server for a partner, its PEER introduction,
// hole punching to every address of the partner (and through the server when
// it offers relaying), and locking the link to the path that answered first.
#include <algorithm>

#include "core/Failure.h"
#include "core/PlimoID.h"
#include "protocol/Net.h"
#include "protocol/PlimoClient.h"
#include "protocol/PlimoCrypto.h"

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

void PlimoClient::connect(const std::string& id) {
  if (state == State::punching || state == State::connected) return;
  if (!relay) return failAttempt("Not connected to the server yet.");
  initiator = true;
  log("Asking server for " + formatPlimoID(id));
  uint16_t port = socket ? socket->localPort() : 0;
  sendRelay("CONNECT " + id + " " + localIP + " " + std::to_string(port) + " " +
            PlimoCrypto::hex(peerKey.publicKey()));
}

void PlimoClient::handlePeer(const std::vector<std::string>& words) {
  if (words.size() < kPeerMinWords) return;
  if (state == State::connected && loop_.now() - lastPeerRx > peerTakeover) takeOver();
  if (state == State::punching || state == State::connected) return;

  partnerName = words.size() > kPeerName && words[kPeerName] != "-" ? words[kPeerName] : "";
  auto key = PlimoCrypto::fromHex(words[kPeerKey]);
  Bytes secret;
  try {
    if (key) secret = peerKey.sharedSecret(*key);
  } catch (const Failure&) {
    key.reset();  // hex, but no point on the curve: as bad as no key
  }
  if (!key) return failAttempt("The partner sent an invalid key.");
  peerChannel = SecureChannel::toPartner(PlimoCrypto::derivePeerKeys(secret, peerKey.publicKey(), *key));
  checkNumber = PlimoCrypto::checkNumber(peerKey.publicKey(), *key);
  partnerID = words[kPeerID];

  Address publicAddress{words[kPeerPublicIP], portOf(words[kPeerPublicPort])};
  Address lanAddress{words[kPeerLanIP], portOf(words[kPeerLanPort])};
  candidates.clear();
  // An address without IP or port cannot be punched; an empty IP would even
  // send the punches through the server.
  for (const Address& a : {publicAddress, lanAddress}) {
    bool known = std::find(candidates.begin(), candidates.end(), a) != candidates.end();
    if (!a.ip.empty() && a.port != 0 && !known) candidates.push_back(a);
  }

  partnerRelay = '-';
  if (words.size() > kPeerRelay && (words[kPeerRelay] == "U" || words[kPeerRelay] == "T")) {
    partnerRelay = words[kPeerRelay][0];
  }
  viaRelay = false;
  relayPunch = partnerRelay != '-' && (partnerRelay == 'T' || tcp);

  Attempt attempt;
  attempt.partnerID = partnerID;
  attempt.started = loop_.wallNow();
  attempt.publicAddress = publicAddress.text();
  attempt.lanAddress = lanAddress.text();
  attempt.outcome = "in progress";
  attempt.relayOffered = partnerRelay == '-' ? "no (older server)"
                                             : std::string("yes, other PC on ") + (partnerRelay == 'T' ? "TCP" : "UDP");
  lastAttempt = std::move(attempt);

  if (relayPunch) {
    candidates.clear();
    log("Partner " + formatPlimoID(partnerID) +
        "; one of us is on the TCP fallback, so the session goes through the server");
  } else {
    log("Partner " + formatPlimoID(partnerID) + " is at " + publicAddress.text() + " (LAN " + lanAddress.text() +
        "), punching...");
  }

  state = State::punching;
  punchTries = 0;
  punchRx = 0;
  punchOpened = 0;
  punch();
  if (state == State::punching) {
    punchTimer = makeTimer(punchInterval, [](PlimoClient& self) { self.punch(); });
  }
}

// A new partner asks while the current one has been silent for a while: the
// old session makes way without a word to the old partner (it is not
// answering anyway). The key stays: the new partner was given it already.
void PlimoClient::takeOver() {
  auto keep = shared_from_this();
  punchTimer.reset();
  pingTimer.reset();
  peerChannel.reset();
  checkNumber.clear();
  initiator = false;
  state = State::registered;
  sendRelay("SESSION END");
  log("The previous partner stopped answering; it makes way for the new one");
  if (onDisconnected) onDisconnected();
}

void PlimoClient::punch() {
  ++punchTries;
  if (punchTries > punchMaxTries) return giveUpPunching();
  std::string line = "PUNCH " + myID;
  for (const Address& candidate : candidates) sendPeer(line, candidate);
  if (partnerRelay != '-' && punchTries >= relayPunchAfter) relayPunch = true;
  if (relayPunch) sendPeer(line, Address{});
}

void PlimoClient::giveUpPunching() {
  std::string sendError = socket ? socket->lastSendError() : "";
  bool blocked = socket && socket->localNetworkBlocked();
  if (lastAttempt) {
    Attempt& a = *lastAttempt;
    a.packetsIn = punchRx;
    a.packetsDecrypted = punchOpened;
    a.sendError = sendError;
    a.localNetworkBlocked = blocked;
    a.triedRelay = relayPunch;
    a.outcome = relayPunch ? "failed: no answer directly or through the server after 10 s"
                           : "failed: no direct path after 10 s";
  }
  log("Punch diagnostics: " + std::to_string(punchRx) + " packet(s) from other addresses, " +
      std::to_string(punchOpened) + " decrypted; last send error: " + (sendError.empty() ? "none" : sendError));
  if (blocked) {
    failAttempt(
        "The firewall of this PC does not let Plimo reach the other PC on your network. Allow Plimo's UDP "
        "traffic in the firewall (for example with ufw), then connect again.");
  } else if (partnerRelay != '-') {
    failAttempt("Could not reach the other PC, directly or through the server. Help > Connection Test shows where "
                "it stops.");
  } else {
    failAttempt("Could not reach the other PC directly. One of the networks blocks it.");
  }
}

void PlimoClient::lockPeer(const Address& address) {
  if (state != State::punching) return;
  punchTimer.reset();
  peer = address;
  viaRelay = address.ip.empty();
  if (lastAttempt) {
    lastAttempt->outcome = "connected";
    lastAttempt->path = viaRelay ? "through the server" : address.text();
  }
  state = State::connected;
  lastPeerRx = loop_.now();
  pingTimer = makeTimer(pingInterval, [](PlimoClient& self) {
    if (self.state == State::connected) self.sendPeer("PING", self.peer);
  });
  if (viaRelay) {
    log("Encrypted link to the other PC through the server (no direct path; the server passes the packets on but "
        "cannot read them, AES-256-GCM). Check number " +
        checkNumber);
  } else {
    log("Direct encrypted link to " + address.text() + " (AES-256-GCM). Check number " + checkNumber);
  }
  sendRelay("SESSION START " + partnerID + " " + (initiator ? "V" : "H"));
  auto keep = shared_from_this();
  if (onConnected) onConnected();
}

}  // namespace plimo
