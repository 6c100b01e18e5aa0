#pragma once
// This PC's registration with the server, inside the ServerSession (threads
// and lifetime as there): what HELLO announces, the ID the server gives and
// how long it lasts, and keeping an ID with a pin.

#include <optional>
#include <string>
#include <vector>

#include "protocol/link/PlimoClient.h"

namespace plimo {

class PlimoClient::Registration {
 public:
  Registration(PlimoClient& link, ServerSession& server);

  // The HELLO line, with the partner key offered now.
  std::string hello() const;
  // The server's ID line and its answers to PIN ("PIN OK", "ERR PIN").
  void handleID(const std::vector<std::string>& words);
  void handlePinOK(const std::vector<std::string>& words);
  void handlePinError(const std::string& text, const std::vector<std::string>& words);

  // The owner's operations (PlimoClient.h says what each does).
  void setUnattended(bool on) { unattended_ = on; }
  void setPin(std::string id, std::string secret);
  void sendPin();
  void unpinID();

  const std::string& myID() const { return myID_; }
  bool idPinned() const { return idPinned_; }

 private:
  friend class testkit::PlimoClientTestKit;

  PlimoClient& link_;
  ServerSession& server_;
  bool unattended_ = false;  // announced in HELLO
  std::string myID_ = "0";  // "0" until the server gives one
  std::optional<double> idExpires_;  // when an unpinned ID lapses
  bool idPinned_ = false;
  std::string pinID_;
  std::string pinSecret_;
};

}  // namespace plimo
