#pragma once
// The probes the connection test runs to explain why a connection fails: the
// NAT type from two STUN servers, and whether a TCP port answers as a Plimo
// server. Each probe opens its own UDP socket or TCP link from the factory
// and never touches the running server link.
//
// Ownership and threads: the caller owns a probe through the shared_ptr its
// start() returns and drops it to cancel; the completion then never fires.
// Everything runs on the EventLoop's thread, and `done` fires there exactly
// once (never from inside start()). Nothing blocks: name lookups, answers
// and timeouts all arrive through the loop.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/EventLoop.h"
#include "protocol/net/SocketFactory.h"
#include "protocol/wire/Stun.h"

namespace plimo {

namespace NetProbes {

struct Nat {
  enum class Kind { easy, symmetric, twoAddresses, unknown };
  Kind kind = Kind::unknown;
  std::string first;   // easy: the one mapped text; symmetric, twoAddresses: the first server's
  std::string second;  // symmetric, twoAddresses: the second server's
  std::string reason;  // unknown: why
  bool operator==(const Nat&) const = default;
};

struct TcpResult {
  enum class Kind { plimo, otherProgram, noConnection, off };
  Kind kind = Kind::off;
  int64_t milliseconds = 0;  // plimo: from the start to the server's answer
  std::string detail;        // otherProgram, noConnection
  bool operator==(const TcpResult&) const = default;
};

// Public STUN services: one on Google's port, one on the standard port, run
// by two companies so one outage leaves a clear "only one server answered".
inline const std::vector<std::string> kDefaultStunServers = {"stun.l.google.com:19302",
                                                            "stun.cloudflare.com:3478"};

// "host:port,host:port" from Plimo.ini: the first two well-formed entries,
// else (fewer than two) the defaults, since the NAT type needs two servers.
std::vector<std::string> stunServers(std::string_view listText);

// The classification of two servers' answers (nothing: no answer).
Nat classify(const std::optional<std::string>& first, const std::optional<std::string>& second);

}  // namespace NetProbes

// Asks each STUN server in turn, from one socket so that all see the same
// local port, and classifies the NAT from the first two.
class NatProbe : public std::enable_shared_from_this<NatProbe> {
 public:
  // The NAT, and one line per server in server order.
  using Done = std::function<void(NetProbes::Nat, std::vector<std::string> lines)>;

  // RFC 5389's first retransmission comes after 0.5 s; a server across the
  // world answers in well under a second, so 2 s per try and two tries keep a
  // whole run under 10 s while a single lost datagram does not fail it.
  static constexpr double kAnswerWait = 2.0;
  static constexpr int kTries = 2;

  static std::shared_ptr<NatProbe> start(EventLoop& loop, SocketFactory& sockets,
                                         std::vector<std::string> servers, Done done);
  NatProbe(EventLoop& loop, SocketFactory& sockets, std::vector<std::string> servers, Done done);

 private:
  void next();
  void resolved(std::optional<std::string> ip, uint16_t port);
  void ask();
  void received(ByteView data, const Address& from);
  void answered(std::optional<std::string> mapped);
  void finish(NetProbes::Nat nat);

  EventLoop& loop_;
  SocketFactory& sockets_;
  const std::vector<std::string> servers_;
  Done done_;
  std::unique_ptr<DatagramLink> socket_;
  size_t index_ = 0;  // the server being asked
  Address server_;    // its address once resolved
  int tries_ = 0;
  Stun::TransactionId transaction_{};
  bool waiting_ = false;  // a request is out and unanswered
  Timer timer_;
  std::vector<std::optional<std::string>> answers_;
  std::vector<std::string> lines_;
};

// Opens a TCP link to ip:port, sends a Plimo handshake once it connects and
// tells whether a Plimo server's welcome comes back.
class TcpProbe : public std::enable_shared_from_this<TcpProbe> {
 public:
  using Done = std::function<void(NetProbes::TcpResult)>;

  // A server answers a handshake in one round trip; 8 s also covers a slow
  // SYN retry (the first comes after 1 s, the second after 3 s more).
  static constexpr double kCheckInterval = 0.2;
  static constexpr int kChecks = 40;

  static std::shared_ptr<TcpProbe> start(EventLoop& loop, SocketFactory& sockets, const std::string& ip,
                                         uint16_t port, Done done);
  TcpProbe(EventLoop& loop, Done done);

 private:
  void check();
  void finish(NetProbes::TcpResult result);

  EventLoop& loop_;
  Done done_;
  std::unique_ptr<StreamLink> link_;
  double started_ = 0;
  int checks_ = 0;
  bool sent_ = false;
  Timer timer_;
};

}  // namespace plimo
