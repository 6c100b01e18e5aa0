#pragma once
// The server half of the link, inside PlimoClient (threads and lifetime as
// there): the server's address, how packets reach it (UDP through the link's
// socket, or the TCP fallback), the secure session (handshake, welcome, key
// pinning), registration (HELLO, ID, PIN) and every text line to and from the
// server, and the relay test. Lines that concern the partner go on to the
// PartnerSession; every packet, to the server or to the partner, leaves
// through sendRaw.
//
// Files: ServerSession.cpp (start, stop, the tick's share, name resolution),
// ServerSessionHandshake.cpp, ServerSessionCommands.cpp,
// ServerSessionTransport.cpp (UDP or TCP, port lists, the relay test).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/crypto/EcdhKey.h"
#include "protocol/link/PlimoClient.h"
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

  // The server's resolved UDP address; TCP packets count as from there too.
  bool isServer(const Address& from) const;
  // A packet from the server that is not a relayed partner packet.
  void handlePacket(ByteView data);

  // Seals one text line; dropped without a session (callers that need it
  // repeat it).
  void sendLine(const std::string& text);
  void sendHello();
  // The one exit for packets: to the server over TCP while a link exists,
  // everything else as a datagram.
  void sendRaw(ByteView data, const Address& to);
  // A sealed partner packet for the server to pass on (0x14 in front).
  void sendRelayed(ByteView sealed);

  void setUnattended(bool on) { unattended_ = on; }
  void setPin(std::string id, std::string secret);
  void sendPin();
  void unpinID();
  void testRelay();

  bool up() const { return bool(relay_); }
  bool blocked() const { return relayBlocked_; }
  const std::optional<Bytes>& key() const { return relayKey_; }
  const std::string& myID() const { return myID_; }
  bool idPinned() const { return idPinned_; }
  bool onTcp() const { return bool(tcp_); }
  const std::string& localIP() const { return localIP_; }
  const std::string& relayIP() const { return relayIP_; }  // empty until resolved
  uint16_t relayPort() const { return relayPort_; }
  const std::vector<uint16_t>& tcpPorts() const { return tcpPorts_; }
  // The link's UDP port, 0 without a socket.
  uint16_t localPort() const;
  std::string transport() const;
  std::string addressText() const;

 private:
  friend class testkit::PlimoClientTestKit;

  // Tuning, in seconds unless said otherwise.
  static constexpr double handshakeRetry = 2.0;
  static constexpr double helloInterval = link::kKeepAlive;
  static constexpr double relayTimeout = link::kServerSilence;
  static constexpr double resolveRetry = 10.0;
  static constexpr double testTimeout = 5.0;
  static constexpr int udpTriesBeforeTcp = 3;
  static constexpr int tcpTriesPerPort = 3;
  static constexpr double tcpRetry = 30.0;
  // A port that does not connect in this time is given up for the next one.
  static constexpr double tcpConnectTimeout = 5.0;
  // The BYE must have time to leave over TCP before the link is closed.
  static constexpr double tcpCloseDelay = 0.2;

  Address relayAddress() const { return {relayIP_, relayPort_}; }
  void status(const std::string& text);

  // Life (ServerSession.cpp).
  void resolveRelay();
  void resolved(std::optional<std::string> ip);
  void dropRelay(const std::string& reason);

  // Handshake and pinning (ServerSessionHandshake.cpp).
  void sendRelayHandshake();
  void handleWelcome(ByteView data);

  // Text lines (ServerSessionCommands.cpp).
  void handleRelayText(const std::string& text);
  void handleError(const std::string& text, const std::vector<std::string>& words);
  void handleID(const std::vector<std::string>& words);
  void handlePinOK(const std::vector<std::string>& words);

  // Transport and the relay test (ServerSessionTransport.cpp).
  void sendHandshakeByTransportRule();
  void tcpEnded(const std::string& reason);
  void tcpConnectTimedOut();
  void dropTcp();
  void advanceTcpPort();
  void startTcp();
  void handlePorts(const std::vector<std::string>& words);
  void handlePong(const std::vector<std::string>& words);
  void finishTest(bool ok, const std::string& text);

  PlimoClient& link_;
  EventLoop& loop_;
  const std::string relayHost_;
  const uint16_t relayPort_;

  // Transport (UDP, or TCP on one of tcpPorts_).
  std::vector<uint16_t> tcpPorts_;
  size_t tcpIndex_ = 0;  // the port in use or to try next
  bool tcpNext_ = false;  // try the next port on the next tick
  uint16_t tcpPort_ = 0;
  std::unique_ptr<StreamLink> tcp_;
  Timer tcpConnectTimer_;  // gives tcp_ up when it has not connected in time
  std::optional<double> tcpTried_;  // when TCP was last started
  int udpTries_ = 0;  // handshakes over UDP without answer
  int tcpTries_ = 0;  // handshakes over the current TCP link
  // A TCP link kept open for a moment after stop() so its BYE can leave.
  Timer closingTcp_;

  // The server's address.
  std::string relayIP_;  // empty until resolved
  std::optional<double> lastResolve_;
  bool resolving_ = false;

  // The secure session.
  std::optional<Bytes> relayKey_;  // the pinned long-term key (64 bytes)
  bool relayBlocked_ = false;  // the server showed another key; the link is frozen
  std::optional<EcdhKey> relayEcdh_;  // the pending handshake's key
  Bytes relayRandom_;
  std::shared_ptr<SecureChannel> relay_;  // present while the session is up
  std::optional<double> lastHandshake_;
  double lastHello_;
  double lastRelayRx_;

  // The relay test.
  std::string testToken_;  // empty when no test runs
  double testStart_;

  // Registration.
  bool unattended_ = false;  // announced in HELLO
  std::string localIP_ = "0.0.0.0";
  std::string myID_ = "0";  // "0" until the server gives one
  std::optional<double> idExpires_;  // when an unpinned ID lapses
  bool idPinned_ = false;
  std::string pinID_;
  std::string pinSecret_;
};

}  // namespace plimo
