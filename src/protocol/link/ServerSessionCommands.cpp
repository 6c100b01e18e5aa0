// Text lines with the server: the routing of every reply, the errors that
// no part of the session takes, and HELLO.
#include "core/Text.h"
#include "protocol/link/PartnerSession.h"
#include "protocol/link/ServerSession.h"

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
    transport_.handlePorts(words);
  } else if (first == "PARTNER" && words.size() >= 2 && words[1] == "GONE") {
    partner.handlePartnerGone();
  } else if (first == "ID" && words.size() >= 2) {
    registration_.handleID(words);
  } else if (first == "PIN" && words.size() >= 3 && words[1] == "OK") {
    registration_.handlePinOK(words);
  } else if (first == "PEER") {
    partner.handlePeer(words);
  } else if (first == "PONG" && words.size() >= 5) {
    test_.handlePong(words);
  } else if (isError) {
    handleError(text, words);
  }
}

void PlimoClient::ServerSession::handleError(const std::string& text, const std::vector<std::string>& words) {
  if (words.size() > 1 && words[1] == "PIN") return registration_.handlePinError(text, words);
  // Refusals of a partner request end the attempt being set up.
  PartnerSession& partner = *link_.partner_;
  if (text == "ERR UNKNOWN_ID") return partner.failAttempt("That ID is not online.");
  if (text == "ERR RATE_LIMIT") return partner.failAttempt("Too many wrong IDs. Wait a minute and try again.");
  if (text == "ERR SELF") return partner.failAttempt("That is your own ID.");
  link_.log("Server error: " + text);
}

void PlimoClient::ServerSession::sendHello() {
  lastHello_ = loop_.now();
  sendLine(registration_.hello());
}

}  // namespace plimo
