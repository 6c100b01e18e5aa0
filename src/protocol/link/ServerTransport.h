#pragma once
// How packets reach the server, inside the ServerSession (threads and
// lifetime as there): UDP through the link's socket, or the TCP fallback over
// the server's short list of ports, tried in turn when UDP gets no answer.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/link/PlimoClient.h"

namespace plimo {

class PlimoClient::ServerTransport {
 public:
  ServerTransport(PlimoClient& link, ServerSession& server, std::string_view tcpPortsText);

  // Picks the path of the next handshake, starting or giving up TCP links on
  // the way; false when no handshake goes out this time.
  bool nextHandshake();
  // The server's welcome: the path works, its tries start again.
  void welcomed();
  // Another address of the server is in use: its paths are tried from the start.
  void restart();
  // The tick's share: a TCP link that ended.
  void checkEnded();
  // The one exit for packets, to the server or to the partner: to the server
  // over TCP while a link exists, everything else as a datagram.
  void send(ByteView data, const Address& to);
  // A sealed partner packet for the server to pass on (0x14 in front).
  void sendRelayed(ByteView sealed);
  // A TCP link is closed a moment later, so that a BYE sent before can leave.
  void close();
  // The server's PORTS line.
  void handlePorts(const std::vector<std::string>& words);

  bool onTcp() const { return bool(tcp_); }
  const std::vector<uint16_t>& tcpPorts() const { return tcpPorts_; }
  std::string text() const;

 private:
  friend class testkit::PlimoClientTestKit;

  // Tuning, in seconds unless said otherwise.
  static constexpr int udpTriesBeforeTcp = 3;
  static constexpr int tcpTriesPerPort = 3;
  static constexpr double tcpRetry = 30.0;
  // A port that does not connect in this time is given up for the next one.
  static constexpr double tcpConnectTimeout = 5.0;
  // The BYE must have time to leave over TCP before the link is closed.
  static constexpr double tcpCloseDelay = 0.2;

  void tcpEnded(const std::string& reason);
  void tcpConnectTimedOut();
  void dropTcp();
  void advanceTcpPort();
  void startTcp();

  PlimoClient& link_;
  ServerSession& server_;
  std::vector<uint16_t> tcpPorts_;
  size_t tcpIndex_ = 0;  // the port in use or to try next
  bool tcpNext_ = false;  // try the next port on the next tick
  uint16_t tcpPort_ = 0;
  std::unique_ptr<StreamLink> tcp_;
  Timer tcpConnectTimer_;  // gives tcp_ up when it has not connected in time
  std::optional<double> tcpTried_;  // when TCP was last started
  int udpTries_ = 0;  // handshakes over UDP without answer
  int tcpTries_ = 0;  // handshakes over the current TCP link
  // A TCP link kept open for a moment after close() so its BYE can leave.
  Timer closingTcp_;
};

}  // namespace plimo
