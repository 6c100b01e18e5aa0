#pragma once
// The seams between the server link and the network: a datagram socket, a
// framed stream to the server, and name resolution. The real ones are
// UDPSocket, RelayTCPLink and NetSocketFactory; tests give in-memory links.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Bytes.h"
#include "protocol/net/NetAddress.h"

namespace plimo {

// One IPv4 UDP socket bound to an ephemeral port.
class DatagramLink {
 public:
  // Called on the main loop's thread with each datagram, in arrival order.
  // Never called after the link is destroyed.
  using PacketHandler = std::function<void(Bytes data, const Address& from)>;

  virtual ~DatagramLink() = default;
  // Sends one datagram; never fails to the caller. Safe from any thread.
  virtual void send(ByteView data, const Address& to) = 0;
  virtual uint16_t localPort() const = 0;
  // Text of the last failed send, empty when none failed.
  virtual std::string lastSendError() const = 0;
  // A send into the LAN was refused by this PC's own network policy.
  virtual bool localNetworkBlocked() const = 0;
};

// One TCP connection to the server carrying the same packets as UDP, each
// framed with a 2-byte length. connecting -> connected -> done (with error);
// it never reconnects, and it has no connect timeout of its own: the owner
// cancels a link that takes too long.
class StreamLink {
 public:
  // Called on the main loop's thread with each complete packet, in order.
  // Never called after the link is destroyed.
  using PacketHandler = std::function<void(Bytes packet)>;

  virtual ~StreamLink() = default;
  // Queues one packet (1 to 65,535 bytes; others are ignored). Droppable
  // packets are dropped while 2 MiB of frames wait to be sent.
  virtual void send(ByteView data, bool droppable) = 0;
  virtual bool connected() const = 0;
  virtual bool done() const = 0;
  // Why the link ended; the first reason wins. Empty while it lives.
  virtual std::string error() const = 0;
  virtual uint16_t port() const = 0;
  // Ends the link ("closed" unless it had already ended for another reason).
  virtual void cancel() = 0;
};

class SocketFactory {
 public:
  // Called on the main loop's thread; may fire after the caller is gone, so
  // the caller's callback holds it weakly.
  using ResolveHandler = std::function<void(std::optional<std::string> ip)>;

  virtual ~SocketFactory() = default;
  // Throws std::system_error when the socket cannot be made or bound.
  virtual std::unique_ptr<DatagramLink> openUdp(DatagramLink::PacketHandler onPacket) = 0;
  // Starts connecting at once; failures end the link (done, error).
  virtual std::unique_ptr<StreamLink> openTcp(const std::string& ip, uint16_t port,
                                              StreamLink::PacketHandler onPacket) = 0;
  using ResolveAllHandler = std::function<void(std::vector<std::string> ips)>;
  // Resolves off the main thread and answers on it.
  virtual void resolveIPv4(const std::string& host, ResolveHandler done) = 0;
  // Every address of the name (a fleet's servers), in the resolver's order;
  // a factory that knows only one gives that one.
  virtual void resolveAllIPv4(const std::string& host, ResolveAllHandler done) {
    resolveIPv4(host, [done = std::move(done)](std::optional<std::string> ip) {
      done(ip ? std::vector<std::string>{*ip} : std::vector<std::string>{});
    });
  }
  virtual std::string localIPv4() = 0;
};

}  // namespace plimo
