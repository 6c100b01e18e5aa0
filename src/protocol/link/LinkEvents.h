#pragma once
// What the server link (PlimoClient) tells its owner, one call per event.
//
// Threads and lifetime: every event comes on the loop's thread from inside
// the client, which holds its events weakly (core/Weakly.h): once they are
// gone nothing more is told. An event may stop or drop the client. Each has a
// default that does nothing, so an owner writes only the ones it needs.
// Texts that came from the server or the partner are theirs: shown as plain
// text only.
//
// Session data is not an event: it goes to the one session the owner
// attaches (PlimoClient::attachSession, SessionDataReceiver.h).

#include <cstdint>
#include <string>

namespace plimo {

class LinkEvents {
 public:
  virtual ~LinkEvents() = default;

  // The server session.
  // A new ID for this PC (PlimoClient::myID).
  virtual void onID() {}
  // The server session's state changed; `text` says it for the user.
  virtual void onRelayStatus(const std::string& /*text*/) {}
  // The server's key was pinned on first use: 128 hex digits, to keep.
  virtual void onRelayKeyPinned(const std::string& /*keyHex*/) {}
  // The relay test's outcome, once per PlimoClient::testRelay.
  virtual void onRelayTest(bool /*ok*/, int64_t /*milliseconds*/, const std::string& /*text*/) {}
  // The server's answer to a request to keep the ID: the ID kept, or why not.
  virtual void onPin(bool /*ok*/, const std::string& /*text*/) {}
  // The server's TCP fallback ports changed: the new port list, to keep.
  virtual void onTcpPortChanged(const std::string& /*portsText*/) {}
  // Whole server lines of the session report family (REPORTASK, REPORT,
  // FEEDBACK and their errors), of the BOOK family, and of BRAND and LOGO.
  virtual void onRegister(const std::string& /*line*/) {}
  virtual void onBook(const std::string& /*line*/) {}
  virtual void onBrand(const std::string& /*line*/) {}

  // The partner.
  // The partner link is up (PlimoClient::state is connected).
  virtual void onConnected() {}
  // An established partner session ended.
  virtual void onDisconnected() {}
  // Reaching a partner failed or was cancelled; `text` says why, for the user.
  virtual void onFailed(const std::string& /*text*/) {}
  // A text line (MSG) from the partner.
  virtual void onMessage(const std::string& /*text*/) {}

  // One line for the application log.
  virtual void onLog(const std::string& /*line*/) {}
};

}  // namespace plimo
