// Text lines with the server: HELLO, the ID and its pinning, and the routing
// of every reply.
#include "core/PlimoID.h"
#include "core/Text.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/link/PartnerSession.h"
#include "protocol/link/ServerSession.h"
#include "protocol/net/Net.h"

namespace plimo {

namespace {

bool isAnyOf(const std::string& word, std::initializer_list<std::string_view> options) {
  for (auto option : options) {
    if (word == option) return true;
  }
  return false;
}

}  // namespace

void PlimoClient::ServerSession::handleRelayText(const std::string& text) {
  auto words = splitWords(text);
  const std::string& first = words[0];
  auto second = [&](std::string_view prefix) {
    return words.size() > 1 && std::string_view(words[1]).starts_with(prefix);
  };
  bool isError = first == "ERR";
  PartnerSession& partner = *link_.partner_;
  // The order matters: an error line of a reporting family belongs to that
  // family, never to the general error handling below.
  if (isAnyOf(first, {"REPORTASK", "REPORT", "FEEDBACK"}) ||
      (isError && (second("FEEDBACK") || second("REPORT_")))) {
    link_.tell(&LinkEvents::onRegister, text);
  } else if (isAnyOf(first, {"BRAND", "LOGO"})) {
    link_.tell(&LinkEvents::onBrand, text);
  } else if (isAnyOf(first, {"BOOK", "BOOKPART", "BOOKPUT", "BOOKPAIR"}) || (isError && second("BOOK"))) {
    link_.tell(&LinkEvents::onBook, text);
  } else if (first == "PORTS" && words.size() >= 3) {
    handlePorts(words);
  } else if (first == "PARTNER" && words.size() >= 2 && words[1] == "GONE") {
    partner.handlePartnerGone();
  } else if (first == "ID" && words.size() >= 2) {
    handleID(words);
  } else if (first == "PIN" && words.size() >= 3 && words[1] == "OK") {
    handlePinOK(words);
  } else if (first == "PEER") {
    partner.handlePeer(words);
  } else if (first == "PONG" && words.size() >= 5) {
    handlePong(words);
  } else if (isError) {
    handleError(text, words);
  }
}

void PlimoClient::ServerSession::handleID(const std::vector<std::string>& words) {
  const std::string& id = words[1];
  if (id.empty()) return;  // no ID to take
  bool hasState = words.size() > 2;
  idPinned_ = hasState && words[2] == "pinned";
  if (!hasState || idPinned_) {
    idExpires_.reset();
  } else {
    auto seconds = parseDecimal(words[2]).value_or(0);
    idExpires_ = loop_.now() + double(seconds > 0 ? seconds : 0);
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

void PlimoClient::ServerSession::handlePinOK(const std::vector<std::string>& words) {
  pinID_ = words[2];
  idPinned_ = true;
  idExpires_.reset();
  link_.log("ID " + formatPlimoID(pinID_) + " is pinned; it stays valid until you unpin it");
  link_.tell(&LinkEvents::onPin, true, pinID_);
}

void PlimoClient::ServerSession::handleError(const std::string& text, const std::vector<std::string>& words) {
  if (words.size() > 1 && words[1] == "PIN") {
    std::string reason = words.size() > 2 ? words[2] : "";
    if (reason == "NOT_READY") return;  // asked again after the next ID reply
    pinID_.clear();
    pinSecret_.clear();
    idPinned_ = false;
    std::string message = reason == "TAKEN"
                              ? "That ID is kept by another PC; this PC keeps its own ID instead."
                              : "The server did not accept the request to keep this ID.";
    link_.log(message + " (" + text + ")");
    link_.tell(&LinkEvents::onPin, false, message);
    return;
  }
  // Refusals of a partner request end the attempt being set up.
  PartnerSession& partner = *link_.partner_;
  if (text == "ERR UNKNOWN_ID") return partner.failAttempt("That ID is not online.");
  if (text == "ERR RATE_LIMIT") return partner.failAttempt("Too many wrong IDs. Wait a minute and try again.");
  if (text == "ERR SELF") return partner.failAttempt("That is your own ID.");
  link_.log("Server error: " + text);
}

void PlimoClient::ServerSession::sendHello() {
  lastHello_ = loop_.now();
  sendLine("HELLO " + myID_ + " " + localIP_ + " " + std::to_string(localPort()) + " " +
           PlimoCrypto::hex(link_.partner_->offeredKey().publicKey()) + " " + relayIP_ + " " +
           (unattended_ ? "1" : "0"));
}

void PlimoClient::ServerSession::setPin(std::string id, std::string secret) {
  pinID_ = std::move(id);
  pinSecret_ = std::move(secret);
}

void PlimoClient::ServerSession::sendPin() {
  if (pinSecret_.empty()) return;
  const std::string& id = pinID_.empty() ? myID_ : pinID_;
  if (id == "0" || myID_ == "0") return;  // the ID reply asks again
  sendLine("PIN " + id + " " + pinSecret_);
}

void PlimoClient::ServerSession::unpinID() {
  if (idPinned_ || !pinSecret_.empty()) sendLine("UNPIN");
  pinID_.clear();
  pinSecret_.clear();
  idPinned_ = false;
}

}  // namespace plimo
