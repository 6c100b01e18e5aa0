#pragma once
// The server link: the one object that talks to the rendezvous and relay
// server (and, through it or directly, to the partner PC).
//
// Ownership and threads: the application model owns one PlimoClient through a
// std::shared_ptr (made by create()) and drops it to close it. Everything here
// runs on the EventLoop's thread: socket deliveries, the name lookup's answer
// and the timers are all handed there, and each holds the client weakly, so
// none of them runs once the client is gone. Its events (LinkEvents.h) and
// the session data come on that thread and may stop or drop the client from
// inside.
//
// Owners see operations, events and a read-only view. Inside, the link owns
// the UDP socket both halves send through, and the two halves:
// ServerSession (ServerSession.h: the secure server session and its text
// commands; its parts ServerAddress, ServerTransport for UDP or TCP,
// ServerHandshake, Registration and RelayTest) and PartnerSession
// (PartnerSession.h: rendezvous, the locked path, the partner channel,
// control lines; its parts HolePunch and PartnerKeys). PlimoClient.cpp holds
// the life cycle, the tick and the dispatch of incoming packets.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/Bytes.h"
#include "core/EventLoop.h"
#include "protocol/link/LinkEvents.h"
#include "protocol/link/SessionDataReceiver.h"
#include "protocol/net/NetAddress.h"
#include "protocol/net/SocketFactory.h"

namespace plimo {

namespace testkit {
class PlimoClientTestKit;
}

class PlimoClient : public std::enable_shared_from_this<PlimoClient> {
 public:
  enum class State { offline, registered, punching, connected };

  // The session keys' fingerprints (PlimoCrypto::keyFingerprint of all 32
  // bytes): this PC's and the partner's.
  struct KeyFingerprints {
    std::string own, partner;
  };

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

  // `loop` and `sockets` must outlive the client; `events` is held weakly
  // and told nothing once it is gone. `tcpPortsText` is a port list
  // ("8443,443,80"); `relayKeyHex` the pinned server key as 128 hex digits,
  // any other text leaving the key to be pinned on first use.
  static std::shared_ptr<PlimoClient> create(EventLoop& loop, SocketFactory& sockets, std::weak_ptr<LinkEvents> events,
                                             std::string relayHost, uint16_t relayPort, std::string_view tcpPortsText,
                                             std::string_view relayKeyHex);
  ~PlimoClient();
  PlimoClient(const PlimoClient&) = delete;
  PlimoClient& operator=(const PlimoClient&) = delete;

  // Opens the socket and starts contacting the server. Throws
  // std::system_error when the socket cannot be made; nothing runs then.
  void start();
  // Says BYE to the partner and the server and closes everything. The client
  // stays quiet afterwards; build a new one to reconnect.
  void stop();

  // Inputs the owner gives. Unattended access is announced in every HELLO.
  void setUnattended(bool on);
  // The ID to keep (empty: the one the server gives) and the secret that
  // proves this PC may keep it; sendPin asks the server.
  void setPin(std::string id, std::string secret);

  // Asks the server to keep the ID set by setPin; repeated after every ID
  // reply until the server confirms it.
  void sendPin();
  // Stops keeping the ID (and forgets the pin).
  void unpinID();
  // Asks the server for the partner with this ID, as the initiator (the
  // viewer). The server's PEER reply starts the punching; onConnected or
  // onFailed tells the outcome. Ignored while punching or connected.
  void connect(const std::string& partnerID);
  // Ends (telling the partner) or cancels the partner session.
  void disconnect();
  // Seals session bytes for the partner; only while connected.
  void sendData(ByteView data);
  // From now on the partner's session data goes to `session` alone, held
  // weakly; without one, or once it is gone, the data is dropped.
  void attachSession(std::weak_ptr<SessionDataReceiver> session);
  // Seals a control line ("MSG Hello") for the partner and sends it to `to`
  // (peer() for the locked path). Nothing without a partner channel.
  void sendPeer(const std::string& text, const Address& to);
  // Checks the server: onRelayTest fires once with the outcome. One test at a
  // time; a second call while one runs does nothing.
  void testRelay();
  // Seals one text command for the server; dropped without a secure server
  // session (serverUp), so callers that need it repeat it.
  void sendRelay(const std::string& text);

  // The read-only view, on the loop's thread. The partner's ID, name and path
  // stay after a session for display; the check number goes with it.
  State state() const;
  const std::string& myID() const;  // "0" until the server gives one
  bool idPinned() const;  // the server keeps the ID for this PC
  bool serverUp() const;  // a secure server session is up
  bool relayBlocked() const;  // the server showed another key than the pinned one: frozen
  const std::optional<Bytes>& relayKey() const;  // the pinned server key (64 bytes)
  std::string transport() const;  // "TCP 443" while a TCP link exists, else "UDP 47800"
  std::string relayAddressText() const;  // "203.0.113.5:47800", or "(not resolved)"
  const std::string& relayIP() const;  // empty until resolved
  uint16_t relayPort() const;  // the server's UDP port
  const std::vector<uint16_t>& tcpPorts() const;  // the server's TCP fallback ports
  const std::string& localIP() const;  // this PC's LAN address as the link sees it
  uint16_t localPort() const;  // the link's UDP port, 0 without a socket
  const std::string& partnerID() const;
  const std::string& partnerName() const;  // empty when the server sends none
  const std::string& checkNumber() const;  // the number both people compare
  // Both session keys' whole fingerprints, for people who want more than the
  // check number (a server could try many keys until one gives the same
  // check number); empty without a partner.
  const KeyFingerprints& keyFingerprints() const;
  bool initiator() const;  // this side asked for the partner (the viewer)
  bool viaRelay() const;  // the locked path goes through the server
  const Address& peer() const;  // the locked path; an empty IP means through the server
  const std::optional<Attempt>& lastAttempt() const;

  static std::vector<uint16_t> parsePortList(std::string_view text);
  static std::string portListText(const std::vector<uint16_t>& ports);

 private:
  friend class testkit::PlimoClientTestKit;
  class ServerSession;
  class ServerAddress;
  class ServerTransport;
  class ServerHandshake;
  class Registration;
  class RelayTest;
  class PartnerSession;
  class PartnerKeys;
  class HolePunch;

  static constexpr double kTickInterval = 1.0;
  // "Long ago": every interval measured from it has passed.
  static constexpr double kDistantPast = -1e12;

  PlimoClient(EventLoop& loop, SocketFactory& sockets, std::weak_ptr<LinkEvents> events, std::string host,
              uint16_t port, std::string_view tcpPortsText, std::string_view relayKeyHex);

  // Every second: the server session's timeouts, the partner's silence, then
  // the server session's keep-alive and handshakes, in that order.
  void tick();
  // Sorts a datagram (or a packet from the TCP link) to the server session or
  // the partner session by its sender and first byte.
  void processPacket(ByteView data, const Address& from);
  void log(const std::string& text);
  // Tells the owner, while its events live.
  template <typename... Params, typename... Args>
  void tell(void (LinkEvents::*event)(Params...), Args&&... args) {
    if (auto events = events_.lock()) ((*events).*event)(std::forward<Args>(args)...);
  }
  void sessionData(ByteView data);

  EventLoop& loop_;
  SocketFactory& sockets_;
  const std::weak_ptr<LinkEvents> events_;
  std::weak_ptr<SessionDataReceiver> session_;
  std::unique_ptr<DatagramLink> socket_;  // from start() to stop()
  std::unique_ptr<ServerSession> server_;
  std::unique_ptr<PartnerSession> partner_;
  Timer tickTimer_;
};

}  // namespace plimo
