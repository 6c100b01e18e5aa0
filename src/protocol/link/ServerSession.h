#pragma once
// The server half of the link, inside PlimoClient (threads and lifetime as
// there): the server's address, how packets reach it (UDP through the link's
// socket, or the TCP fallback), the secure session (handshake, welcome, key
// pinning), registration (HELLO, ID, PIN) and every text line to and from the
// server, and the relay test. Lines that concern the partner go on to the
// PartnerSession; every packet, to the server or to the partner, leaves
// through its ServerTransport.
//
// Files: ServerSession.cpp (start, stop, the tick's share),
// ServerSessionHandshake.cpp, ServerSessionCommands.cpp. Its parts, each in
// files of its own: ServerAddress (the name and its look-up), ServerTransport
// (UDP or TCP, port lists), ServerHandshake (the key and the welcome's
// check), Registration (HELLO, ID, PIN), RelayTest.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/link/PlimoClient.h"
#include "protocol/link/Registration.h"
#include "protocol/link/RelayTest.h"
#include "protocol/link/ServerAddress.h"
#include "protocol/link/ServerHandshake.h"
#include "protocol/link/ServerTransport.h"
#include "protocol/wire/LinkLimits.h"
#include "protocol/wire/SecureChannel.h"

namespace plimo {

class PlimoClient::ServerSession {
 public:
  ServerSession(PlimoClient& link, std::string host, uint16_t port, std::string_view tcpPortsText,
                std::string_view relayKeyHex);
  ~ServerSession();
  ServerSession(const ServerSession&) = delete;
  ServerSession& operator=(const ServerSession&) = delete;

  // Once the link's socket is open: the LAN address, then the server's name.
  void start();
  // Says BYE; a TCP link is closed a moment later so that the BYE can leave.
  void stop();
  // The tick's share before the partner's silence check: a relay test that
  // ran out, a TCP link that ended.
  void checkEnded();
  // The tick's share after it, unless the link is blocked: resolution,
  // keep-alive, loss of the session, handshakes.
  void keepContact();

  // A packet from the server that is not a relayed partner packet.
  void handlePacket(ByteView data);

  // Seals one text line; dropped without a session (callers that need it
  // repeat it).
  void sendLine(const std::string& text);
  void sendHello();
  // Loses the secure session and says why; the tick handshakes again.
  void dropRelay(const std::string& reason);
  // The server status the owner shows.
  void status(const std::string& text);
  void testRelay();

  Registration& registration() { return registration_; }
  ServerTransport& transport() { return transport_; }
  bool up() const { return bool(relay_); }
  bool blocked() const { return handshake_.blocked(); }
  const std::optional<Bytes>& key() const { return handshake_.key(); }
  const Registration& registration() const { return registration_; }
  const ServerTransport& transport() const { return transport_; }
  const ServerAddress& address() const { return address_; }
  const std::string& localIP() const { return localIP_; }
  // The link's UDP port, 0 without a socket.
  uint16_t localPort() const;

 private:
  friend class testkit::PlimoClientTestKit;

  // Tuning, in seconds unless said otherwise.
  static constexpr double handshakeRetry = 2.0;
  static constexpr double helloInterval = link::kKeepAlive;
  static constexpr double relayTimeout = link::kServerSilence;
  // An address of the server gets this long without a word from it before
  // the next address of its name is tried: its UDP tries and the first TCP
  // ports fit in it.
  static constexpr double addressPatience = 30.0;

  // Handshake and pinning (ServerSessionHandshake.cpp).
  void sendRelayHandshake();
  void handleWelcome(ByteView data);

  // Text lines (ServerSessionCommands.cpp).
  void handleRelayText(const std::string& text);
  void handleError(const std::string& text, const std::vector<std::string>& words);

  PlimoClient& link_;
  EventLoop& loop_;
  ServerAddress address_;
  ServerTransport transport_;

  // The secure session.
  ServerHandshake handshake_;
  std::shared_ptr<SecureChannel> relay_;  // present while the session is up
  std::optional<double> lastHandshake_;
  double lastHello_;
  double lastRelayRx_;
  double addressSince_;  // when the address in use was taken

  RelayTest test_;
  std::string localIP_ = "0.0.0.0";
  Registration registration_;
};

}  // namespace plimo
