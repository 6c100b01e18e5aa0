#include "protocol/link/Registration.h"

#include "core/PlimoID.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/link/PartnerSession.h"
#include "protocol/link/ServerSession.h"
#include "protocol/net/Net.h"

namespace plimo {

PlimoClient::Registration::Registration(PlimoClient& link, ServerSession& server) : link_(link), server_(server) {}

std::string PlimoClient::Registration::hello() const {
  return "HELLO " + myID_ + " " + server_.localIP() + " " + std::to_string(server_.localPort()) + " " +
         PlimoCrypto::hex(link_.partner_->offeredKey().publicKey()) + " " + server_.address().ip() + " " +
         (unattended_ ? "1" : "0");
}

void PlimoClient::Registration::handleID(const std::vector<std::string>& words) {
  const std::string& id = words[1];
  if (id.empty()) return;  // no ID to take
  bool hasState = words.size() > 2;
  idPinned_ = hasState && words[2] == "pinned";
  if (!hasState || idPinned_) {
    idExpires_.reset();
  } else {
    auto seconds = parseDecimal(words[2]).value_or(0);
    idExpires_ = link_.loop_.now() + double(seconds > 0 ? seconds : 0);
  }
  bool changed = id != myID_;
  if (changed) {
    // With an ID, a link without a partner reads as registered (PlimoClient::state).
    myID_ = id;
    link_.log("My ID is " + formatPlimoID(myID_));
  }
  // The kept ID is asked back before anything the new one sets off: a
  // connection made at start then goes out under the kept ID, which is the
  // one a helped PC with unattended access may trust, not a temporary one.
  if (!pinSecret_.empty() && !idPinned_) sendPin();
  if (changed) {
    // The event may drop the owner's last reference.
    auto keep = link_.shared_from_this();
    link_.tell(&LinkEvents::onID);
  }
}

void PlimoClient::Registration::handlePinOK(const std::vector<std::string>& words) {
  pinID_ = words[2];
  idPinned_ = true;
  idExpires_.reset();
  link_.log("ID " + formatPlimoID(pinID_) + " is pinned; it stays valid until you unpin it");
  link_.tell(&LinkEvents::onPin, true, pinID_);
}

void PlimoClient::Registration::handlePinError(const std::string& text, const std::vector<std::string>& words) {
  std::string reason = words.size() > 2 ? words[2] : "";
  if (reason == "NOT_READY") return;  // asked again after the next ID reply
  pinID_.clear();
  pinSecret_.clear();
  idPinned_ = false;
  std::string message = reason == "TAKEN" ? "That ID is kept by another PC; this PC keeps its own ID instead."
                                          : "The server did not accept the request to keep this ID.";
  link_.log(message + " (" + text + ")");
  link_.tell(&LinkEvents::onPin, false, message);
}

void PlimoClient::Registration::setPin(std::string id, std::string secret) {
  pinID_ = std::move(id);
  pinSecret_ = std::move(secret);
}

void PlimoClient::Registration::sendPin() {
  if (pinSecret_.empty()) return;
  const std::string& id = pinID_.empty() ? myID_ : pinID_;
  if (id == "0" || myID_ == "0") return;  // the ID reply asks again
  server_.sendLine("PIN " + id + " " + pinSecret_);
}

void PlimoClient::Registration::unpinID() {
  if (idPinned_ || !pinSecret_.empty()) server_.sendLine("UNPIN");
  pinID_.clear();
  pinSecret_.clear();
  idPinned_ = false;
}

}  // namespace plimo
