// Text lines with the server: HELLO, the ID and its pinning, and the routing
// of every reply.
#include "core/PlimoID.h"
#include "protocol/Net.h"
#include "protocol/PlimoClient.h"
#include "protocol/PlimoCrypto.h"

namespace plimo {

namespace {

// Split at every single space; two spaces make an empty word.
std::vector<std::string> splitWords(const std::string& line) {
  std::vector<std::string> words;
  size_t from = 0;
  for (;;) {
    size_t space = line.find(' ', from);
    words.push_back(line.substr(from, space == std::string::npos ? std::string::npos : space - from));
    if (space == std::string::npos) return words;
    from = space + 1;
  }
}

bool isAnyOf(const std::string& word, std::initializer_list<std::string_view> options) {
  for (auto option : options) {
    if (word == option) return true;
  }
  return false;
}

}  // namespace

void PlimoClient::handleRelayText(const std::string& text) {
  auto words = splitWords(text);
  const std::string& first = words[0];
  auto second = [&](std::string_view prefix) {
    return words.size() > 1 && std::string_view(words[1]).starts_with(prefix);
  };
  bool isError = first == "ERR";
  // The order matters: an error line of a reporting family belongs to that
  // family, never to the general error handling below.
  if (isAnyOf(first, {"REPORTASK", "REPORT", "FEEDBACK"}) ||
      (isError && (second("FEEDBACK") || second("REPORT_")))) {
    if (onRegister) onRegister(text);
  } else if (isAnyOf(first, {"BRAND", "LOGO"})) {
    if (onBrand) onBrand(text);
  } else if (isAnyOf(first, {"BOOK", "BOOKPART", "BOOKPUT", "BOOKPAIR"}) || (isError && second("BOOK"))) {
    if (onBook) onBook(text);
  } else if (first == "PORTS" && words.size() >= 3) {
    handlePorts(words);
  } else if (first == "PARTNER" && words.size() >= 2 && words[1] == "GONE") {
    handlePartnerGone();
  } else if (first == "ID" && words.size() >= 2) {
    handleID(words);
  } else if (first == "PIN" && words.size() >= 3 && words[1] == "OK") {
    handlePinOK(words);
  } else if (first == "PEER") {
    handlePeer(words);
  } else if (first == "PONG" && words.size() >= 5) {
    handlePong(words);
  } else if (isError) {
    handleError(text, words);
  }
}

void PlimoClient::handleID(const std::vector<std::string>& words) {
  const std::string& id = words[1];
  if (id.empty()) return;  // no ID to take
  bool hasState = words.size() > 2;
  idPinned = hasState && words[2] == "pinned";
  if (!hasState || idPinned) {
    idExpires.reset();
  } else {
    auto seconds = parseDecimal(words[2]).value_or(0);
    idExpires = loop_.now() + double(seconds > 0 ? seconds : 0);
  }
  if (id != myID) {
    myID = id;
    if (state == State::offline) state = State::registered;
    log("My ID is " + formatPlimoID(myID));
    // A callback may drop the owner's last reference.
    auto keep = shared_from_this();
    if (onID) onID();
  }
  if (!pinSecret.empty() && !idPinned) sendPin();
}

void PlimoClient::handlePinOK(const std::vector<std::string>& words) {
  pinID = words[2];
  idPinned = true;
  idExpires.reset();
  log("ID " + formatPlimoID(pinID) + " is pinned; it stays valid until you unpin it");
  if (onPin) onPin(true, pinID);
}

void PlimoClient::handleError(const std::string& text, const std::vector<std::string>& words) {
  if (words.size() > 1 && words[1] == "PIN") {
    std::string reason = words.size() > 2 ? words[2] : "";
    if (reason == "NOT_READY") return;  // asked again after the next ID reply
    pinID.clear();
    pinSecret.clear();
    idPinned = false;
    std::string message = reason == "TAKEN"
                              ? "That ID is kept by another PC; this Mac keeps its own ID instead."
                              : "The server did not accept the request to keep this ID.";
    log(message + " (" + text + ")");
    if (onPin) onPin(false, message);
    return;
  }
  // Refusals of a partner request end the attempt being set up.
  if (text == "ERR UNKNOWN_ID") return failAttempt("That ID is not online.");
  if (text == "ERR RATE_LIMIT") return failAttempt("Too many wrong IDs. Wait a minute and try again.");
  if (text == "ERR SELF") return failAttempt("That is your own ID.");
  log("Server error: " + text);
}

void PlimoClient::sendHello() {
  lastHello = loop_.now();
  uint16_t port = socket ? socket->localPort() : 0;
  sendRelay("HELLO " + myID + " " + localIP + " " + std::to_string(port) + " " +
            PlimoCrypto::hex(peerKey.publicKey()) + " " + relayIP + " " + (unattended ? "1" : "0"));
}

void PlimoClient::sendPin() {
  if (pinSecret.empty()) return;
  const std::string& id = pinID.empty() ? myID : pinID;
  if (id == "0" || myID == "0") return;  // the ID reply asks again
  sendRelay("PIN " + id + " " + pinSecret);
}

void PlimoClient::unpinID() {
  if (idPinned || !pinSecret.empty()) sendRelay("UNPIN");
  pinID.clear();
  pinSecret.clear();
  idPinned = false;
}

}  // namespace plimo
