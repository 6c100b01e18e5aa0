#include "protocol/link/HolePunch.h"

#include <algorithm>

#include "core/PlimoID.h"
#include "core/Weakly.h"
#include "protocol/link/PartnerSession.h"
#include "protocol/link/ServerSession.h"
#include "protocol/net/Net.h"

namespace plimo {

PlimoClient::HolePunch::HolePunch(PlimoClient& link, PartnerSession& partner) : link_(link), partner_(partner) {}

void PlimoClient::HolePunch::plan(const std::string& partnerID, const Address& publicAddress,
                                  const Address& lanAddress, char partnerRelay) {
  candidates_.clear();
  // An address without IP or port cannot be punched; an empty IP would even
  // send the punches through the server.
  for (const Address& a : {publicAddress, lanAddress}) {
    bool known = std::find(candidates_.begin(), candidates_.end(), a) != candidates_.end();
    if (!a.ip.empty() && a.port != 0 && !known) candidates_.push_back(a);
  }
  partnerRelay_ = partnerRelay;
  relayPunch_ = partnerRelay_ != '-' && (partnerRelay_ == 'T' || link_.server_->transport().onTcp());

  Attempt attempt;
  attempt.partnerID = partnerID;
  attempt.started = link_.loop_.wallNow();
  attempt.publicAddress = publicAddress.text();
  attempt.lanAddress = lanAddress.text();
  attempt.outcome = "in progress";
  attempt.relayOffered = partnerRelay_ == '-'
                             ? "no (older server)"
                             : std::string("yes, other PC on ") + (partnerRelay_ == 'T' ? "TCP" : "UDP");
  lastAttempt_ = std::move(attempt);

  if (relayPunch_) {
    candidates_.clear();
    link_.log("Partner " + formatPlimoID(partnerID) +
              "; one of us is on the TCP fallback, so the session goes through the server");
  } else {
    link_.log("Partner " + formatPlimoID(partnerID) + " is at " + publicAddress.text() + " (LAN " +
              lanAddress.text() + "), punching...");
  }
}

void PlimoClient::HolePunch::start() {
  tries_ = 0;
  received_ = 0;
  opened_ = 0;
  punch();
  // The partner session owns this object as long as the link lives, so
  // `this` is there whenever the link is.
  if (partner_.phase() == PartnerSession::Phase::punching) {
    timer_ = link_.loop_.every(punchInterval, weakly(link_.weak_from_this(), [this](PlimoClient&) { punch(); }));
  }
}

void PlimoClient::HolePunch::locked(const Address& path) {
  timer_.reset();
  if (lastAttempt_) {
    lastAttempt_->outcome = "connected";
    lastAttempt_->path = path.ip.empty() ? "through the server" : path.text();
  }
}

void PlimoClient::HolePunch::stop() {
  timer_.reset();
  relayPunch_ = false;
}

void PlimoClient::HolePunch::punch() {
  ++tries_;
  if (tries_ > punchMaxTries) return giveUp();
  std::string line = "PUNCH " + link_.server_->registration().myID();
  for (const Address& candidate : candidates_) partner_.sendPeer(line, candidate);
  if (partnerRelay_ != '-' && tries_ >= relayPunchAfter) relayPunch_ = true;
  if (relayPunch_) partner_.sendPeer(line, Address{});
}

void PlimoClient::HolePunch::giveUp() {
  const DatagramLink* socket = link_.socket_.get();
  std::string sendError = socket ? socket->lastSendError() : "";
  bool blocked = socket && socket->localNetworkBlocked();
  if (lastAttempt_) {
    Attempt& a = *lastAttempt_;
    a.packetsIn = received_;
    a.packetsDecrypted = opened_;
    a.sendError = sendError;
    a.localNetworkBlocked = blocked;
    a.triedRelay = relayPunch_;
    a.outcome = relayPunch_ ? "failed: no answer directly or through the server after 10 s"
                            : "failed: no direct path after 10 s";
  }
  link_.log("Punch diagnostics: " + std::to_string(received_) + " packet(s) from other addresses, " +
            std::to_string(opened_) + " decrypted; last send error: " + (sendError.empty() ? "none" : sendError));
  if (blocked) {
    partner_.failAttempt(
        "The firewall of this PC does not let Plimo reach the other PC on your network. Allow Plimo's UDP "
        "traffic in the firewall (for example with ufw), then connect again.");
  } else if (partnerRelay_ != '-') {
    partner_.failAttempt(
        "Could not reach the other PC, directly or through the server. Help > Connection Test shows where it "
        "stops.");
  } else {
    partner_.failAttempt("Could not reach the other PC directly. One of the networks blocks it.");
  }
}

}  // namespace plimo
