#pragma once
// The server link: the one object that talks to the rendezvous and relay
// server (and, through it or directly, to the partner PC).
//
// Ownership and threads: the application model owns one PlimoClient through a
// std::shared_ptr (made by create()) and drops it to close it. Everything here
// runs on the EventLoop's thread: socket deliveries, the name lookup's answer
// and the timers are all handed there, and each holds the client weakly, so
// none of them runs once the client is gone. Callbacks fire on that thread and
// may stop or drop the client from inside.
//
// The file is split by concern: PlimoClient.cpp (life cycle, tick, dispatch),
// PlimoClientHandshake.cpp (handshake, welcome, key pinning),
// PlimoClientCommands.cpp (text commands and replies),
// PlimoClientTransport.cpp (UDP or TCP, port list, relay test),
// PlimoClientPunch.cpp (rendezvous and hole punching),
// PlimoClientPeer.cpp (the partner packets and the connected session).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Bytes.h"
#include "core/EventLoop.h"
#include "protocol/EcdhKey.h"
#include "protocol/NetAddress.h"
#include "protocol/SecureChannel.h"
#include "protocol/SocketFactory.h"

namespace plimo {

class PlimoClient : public std::enable_shared_from_this<PlimoClient> {
 public:
  enum class State { offline, registered, punching, connected };

  // Tuning, in seconds unless said otherwise.
  static constexpr double handshakeRetry = 2.0;
  static constexpr double helloInterval = 20.0;  // keeps the server session alive
  static constexpr double relayTimeout = 65.0;   // three missed HELLO answers and some
  static constexpr double resolveRetry = 10.0;
  static constexpr double testTimeout = 5.0;
  static constexpr int udpTriesBeforeTcp = 3;
  static constexpr int tcpTriesPerPort = 3;
  static constexpr double tcpRetry = 30.0;
  static constexpr double tickInterval = 1.0;
  // The BYE must have time to leave over TCP before the link is closed.
  static constexpr double tcpCloseDelay = 0.2;
  static constexpr double peerTimeout = 35.0;  // partner silence that ends a session
  // Hole punching: a try every 0.2 s for 10 s; from the 15th try (3 s in,
  // long enough for most NATs to open) punches also go through the server.
  static constexpr double punchInterval = 0.2;
  static constexpr int punchMaxTries = 50;
  static constexpr int relayPunchAfter = 15;
  // Keep-alive on a locked link: well inside the 35 s timeout and short
  // enough to hold a NAT mapping open.
  static constexpr double pingInterval = 5.0;
  // Partner silence after which a new partner's PEER replaces the current one.
  static constexpr double peerTakeover = 12.0;
  // Partner silence needed before the server's PARTNER GONE ends a session:
  // a direct link can outlive the partner's server session.
  static constexpr double partnerGoneQuiet = 5.0;

  // Diagnostics of the latest attempt to reach a partner, for the connection
  // report.
  struct Attempt {
    std::string partnerID;  // the ID asked for (or the one that asked)
    double started = 0;  // wall clock, seconds since the epoch
    std::string publicAddress;  // the partner's, as the server saw it ("ip:port")
    std::string lanAddress;
    int packetsIn = 0;  // packets from partner addresses while punching
    int packetsDecrypted = 0;  // of those, the ones that authenticated
    std::string sendError;  // the socket's last send error
    bool localNetworkBlocked = false;
    std::string outcome;  // "in progress", "connected" or the failure
    std::string path;  // "through the server" or the partner's address
    std::string relayOffered;
    bool triedRelay = false;
  };

  // `loop` and `sockets` must outlive the client. `tcpPortsText` is a port
  // list ("8443,443,80"); `relayKeyHex` the pinned server key as 128 hex
  // digits, any other text leaving the key to be pinned on first use.
  static std::shared_ptr<PlimoClient> create(EventLoop& loop, SocketFactory& sockets,
                                             std::string relayHost, uint16_t relayPort,
                                             std::string_view tcpPortsText,
                                             std::string_view relayKeyHex);
  ~PlimoClient();
  PlimoClient(const PlimoClient&) = delete;
  PlimoClient& operator=(const PlimoClient&) = delete;

  // Opens the socket and starts contacting the server. Throws
  // std::system_error when the socket cannot be made; nothing runs then.
  void start();
  // Says BYE to the server and closes everything. The client stays quiet
  // afterwards; build a new one to reconnect.
  void stop();

  // "TCP 443" while a TCP link exists, else "UDP 47800".
  std::string transport() const;
  // "203.0.113.5:47800", or "(not resolved)".
  std::string relayAddressText() const;

  // Keeps the ID (pinID, or myID when empty) with pinSecret; repeated after
  // every ID reply until the server confirms it.
  void sendPin();
  // Stops keeping the ID.
  void unpinID();
  // Asks the server for the partner with this ID, as the initiator (the
  // viewer). The server's PEER reply starts the punching; onConnected or
  // onFailed tells the outcome. Ignored while punching or connected.
  void connect(const std::string& partnerID);
  // Ends (telling the partner) or cancels the partner session.
  void disconnect();
  // Seals session bytes for the partner; only while connected.
  void sendData(ByteView data);
  // Seals a control line ("MSG Hello") for the partner and sends it to `to`
  // (use `peer` for the locked path). Nothing without a partner channel.
  void sendPeer(const std::string& text, const Address& to);
  // Checks the server: onRelayTest fires once with the outcome. One test at a
  // time; a second call while one runs does nothing.
  void testRelay();

  static std::vector<uint16_t> parsePortList(std::string_view text);
  static std::string portListText(const std::vector<uint16_t>& ports);

  // Callbacks, installed by the owner before start(); all on the loop's thread.
  std::function<void()> onID;                  // a new ID for this PC (myID)
  std::function<void()> onConnected;           // the partner link is up
  std::function<void()> onDisconnected;        // an established partner session ended
  std::function<void(const std::string&)> onFailed;   // contacting a partner failed
  std::function<void(const std::string&)> onMessage;  // a text line from the partner
  std::function<void(const std::string&)> onLog;      // one line for the application log
  std::function<void(const Bytes&)> onData;           // session data from the partner
  std::function<void(const std::string&)> onRelayKeyPinned;  // 128 hex digits
  std::function<void(bool ok, int64_t milliseconds, const std::string&)> onRelayTest;
  std::function<void(const std::string&)> onRelayStatus;  // the server session's state, for the user
  std::function<void(bool ok, const std::string&)> onPin;
  std::function<void(const std::string&)> onRegister;  // session report lines, whole
  std::function<void(const std::string&)> onBook;
  std::function<void(const std::string&)> onBrand;
  std::function<void(const std::string&)> onTcpPortChanged;  // new port list text

  // Plain fields, touched on the loop's thread only. The owner reads them and
  // sets only `unattended`, `pinID` and `pinSecret`.
  const std::string relayHost;
  const uint16_t relayPort;
  std::unique_ptr<DatagramLink> socket;
  Timer tickTimer;

  // Transport (UDP, or TCP on one of tcpPorts).
  std::vector<uint16_t> tcpPorts;
  size_t tcpIndex = 0;  // the port in use or to try next
  bool tcpNext = false;  // try the next port on the next tick
  uint16_t tcpPort = 0;
  std::unique_ptr<StreamLink> tcp;
  std::optional<double> tcpTried;  // when TCP was last started
  int udpTries = 0;  // handshakes over UDP without answer
  int tcpTries = 0;  // handshakes over the current TCP link

  // The server's address.
  std::string relayIP;  // empty until resolved
  std::optional<double> lastResolve;
  bool resolving = false;

  // The secure server session.
  std::optional<Bytes> relayKey;  // the pinned long-term key (64 bytes)
  bool relayBlocked = false;       // the server showed another key; the link is frozen
  std::optional<EcdhKey> relayEcdh;  // the pending handshake's key
  Bytes relayRandom;
  std::shared_ptr<SecureChannel> relay;  // present while the session is up
  std::optional<double> lastHandshake;
  double lastHello;
  double lastRelayRx;

  // The relay test.
  std::string testToken;  // empty when no test runs
  double testStart;

  // Registration.
  bool unattended = false;  // announced in HELLO
  std::string localIP = "0.0.0.0";
  std::string myID = "0";  // "0" until the server gives one
  std::optional<double> idExpires;  // when an unpinned ID lapses
  bool idPinned = false;
  std::string pinID;
  std::string pinSecret;

  // The partner side.
  State state = State::offline;
  bool initiator = false;  // this side asked for the partner (the viewer)
  EcdhKey peerKey;  // offered to the next partner; new after every session
  std::shared_ptr<SecureChannel> peerChannel;  // end to end, present during a session
  std::string partnerID;
  std::string partnerName;  // empty when the server sends none
  std::string checkNumber;  // the number both people compare; empty without a partner
  std::vector<Address> candidates;  // punched: public address first, LAN second
  std::optional<Attempt> lastAttempt;
  int punchTries = 0;
  Address peer;  // the locked path; an empty IP means through the server
  bool viaRelay = false;
  // Relaying offered in PEER: '-' none (older server), 'U' the partner
  // reaches the server over UDP, 'T' over the TCP fallback.
  char partnerRelay = '-';
  bool relayPunch = false;  // punches also go through the server
  double lastPeerRx;  // the last authenticated partner packet
  int punchRx = 0;  // packets from partner addresses while punching
  int punchOpened = 0;  // of those, the ones that authenticated
  Timer punchTimer;
  Timer pingTimer;

 private:
  PlimoClient(EventLoop& loop, SocketFactory& sockets, std::string host, uint16_t port,
              std::string_view tcpPortsText, std::string_view relayKeyHex);

  // Life cycle and dispatch (PlimoClient.cpp).
  void tick();
  void resolveRelay();
  void processPacket(ByteView data, const Address& from);
  void dropRelay(const std::string& reason);
  // A repeating timer on the loop whose action runs only while the client lives.
  Timer makeTimer(double interval, std::function<void(PlimoClient&)> action);
  Address relayAddress() const { return {relayIP, relayPort}; }
  void log(const std::string& text);
  void status(const std::string& text);

  // Handshake and pinning (PlimoClientHandshake.cpp).
  void sendRelayHandshake();
  void handleRelayPacket(ByteView data);
  void handleWelcome(ByteView data);
  void sendRelay(const std::string& text);

  // Text commands and replies (PlimoClientCommands.cpp).
  void handleRelayText(const std::string& text);
  void handleError(const std::string& text, const std::vector<std::string>& words);
  void handleID(const std::vector<std::string>& words);
  void handlePinOK(const std::vector<std::string>& words);
  void sendHello();

  // Transport (PlimoClientTransport.cpp).
  void sendHandshakeByTransportRule();
  void tcpEnded();
  void advanceTcpPort();
  void startTcp();
  void sendRaw(ByteView data, const Address& to);
  void handlePorts(const std::vector<std::string>& words);
  void handlePong(const std::vector<std::string>& words);
  void finishTest(bool ok, const std::string& text);

  // The partner side (PlimoClientPeer.cpp).
  void handlePeerPacket(ByteView sealed, const Address& from);
  void handleControl(const std::string& line, const Address& from);
  void handlePartnerGone();
  void sendPeerPacket(ByteView sealed, const Address& to);
  void endSession(bool notifyPeer);
  void peerGone(const std::string& reason);
  void failAttempt(const std::string& text);

  // Rendezvous and hole punching (PlimoClientPunch.cpp).
  void handlePeer(const std::vector<std::string>& words);
  void takeOver();
  void punch();
  void giveUpPunching();
  void lockPeer(const Address& address);

  EventLoop& loop_;
  SocketFactory& sockets_;
  // A TCP link kept open for a moment after stop() so its BYE can leave.
  Timer closingTcp_;
};

}  // namespace plimo
