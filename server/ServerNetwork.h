#pragma once
// The server's sockets: one UDP socket and a TCP listener per fallback port,
// all on the server loop's io_context (one thread: the protocol core runs in
// the completion handlers, so there is nothing to lock). UDP datagrams come
// in and go out in batches (UdpBatches).
//
// TCP connections (TcpConnection) carry the same packets as UDP, each framed
// with a 2-byte big-endian length, with bounded queues each. Across all
// connections the queues are bounded too: past the total, relayed traffic is
// dropped and a connection that would need more for its own packets ends.
// One source address holds a bounded number of connections.
//
// A server of a fleet has a second UDP socket, where the other servers pass
// it the packets they relay (FleetRelay); it goes out and comes in in the
// same batches as the clients' socket.

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ip/udp.hpp>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/EventLoop.h"
#include "core/Weakly.h"
#include "server/PacketSink.h"
#include "server/TcpConnection.h"
#include "server/UdpBatches.h"

namespace plimo {

class ServerNetwork final : public PacketSink, private TcpConnection::Owner {
 public:
  using OnPacket = std::function<void(const Endpoint&, ByteView)>;
  using OnClosed = std::function<void(const Endpoint&)>;

  // A connection that sends nothing this long is closed: longer than the
  // server's own 65-second silence rule, which normally ends it first.
  static constexpr double kTcpSilence = 70.0;
  // A connection must start with a handshake within this time.
  static constexpr double kTcpFirstPacket = 10.0;
  // Bytes waiting in all connections' queues: a few dozen clients that stop
  // reading with full queues, not every connection at its own limit.
  static constexpr size_t kMaxQueuedTotal = 256 * 1024 * 1024;
  // Connections from one source address: an office whose firewall blocks
  // UDP reaches the server through one NAT address, all of it on TCP.
  static constexpr size_t kMaxConnectionsPerAddress = 256;

  ServerNetwork(asio::io_context& context, EventLoop& loop, size_t maxConnections,
                size_t maxQueuedTotal = kMaxQueuedTotal);
  ~ServerNetwork() override;

  // Handlers for what arrives; set them before opening.
  void setHandlers(OnPacket onPacket, OnClosed onClosed);
  // The one address (host order) the sockets opened from now on are bound
  // to; 0, as at first: every interface.
  void bindTo(uint32_t ip) { bindIP_ = ip; }

  // Binds the UDP socket. False with `error` set.
  bool openUdp(uint16_t port, std::string& error);
  // Listens on a TCP port (0: any free one). False with `error` set.
  bool openTcp(uint16_t port, std::string& error);
  // Binds the fleet's UDP socket (0: any free port), whose datagrams go to
  // `onPacket`. False with `error` set.
  bool openFleetUdp(uint16_t port, OnPacket onPacket, std::string& error);

  uint16_t udpPort() const;
  uint16_t fleetPort() const;
  // Sends on the fleet's socket.
  PacketSink& fleetSink() { return fleetSink_; }
  // The ports listened on, in the order opened.
  std::vector<uint16_t> tcpPorts() const;
  size_t connectionCount() const { return connections_.size(); }
  // Bytes waiting to be sent on all connections.
  size_t queuedBytes() const { return queued_.total; }

  void send(const Endpoint& to, ByteView packet, bool droppable) override;
  void close(const Endpoint& to) override;

 private:
  struct Listener;
  struct FleetSink final : PacketSink {
    explicit FleetSink(ServerNetwork& owner) : network(owner) {}
    void send(const Endpoint& to, ByteView packet, bool droppable) override;
    void close(const Endpoint&) override {}
    ServerNetwork& network;
  };

  // ----- TcpConnection::Owner -----
  void packet(const Endpoint& from, ByteView packet) override;
  void failed(uint64_t id) override;
  // Ends a connection from inside a send: the server, perhaps in the middle
  // of handling this client, hears of it from a fresh task.
  void overflowed(uint64_t id) override;

  bool bindUdp(asio::ip::udp::socket& socket, UdpBatches& batches, uint16_t port, std::string& error);
  void waitForUdp(asio::ip::udp::socket& socket);
  void readUdp(asio::ip::udp::socket& socket);
  void sendUdp(asio::ip::udp::socket& socket, UdpBatches& batches, const Endpoint& to, ByteView packet);
  void accept(const std::shared_ptr<Listener>& listener);
  void dropConnection(uint64_t id, bool tellServer);
  void sweep();

  asio::io_context& context_;
  EventLoop& loop_;
  size_t maxConnections_;
  QueuedBytes queued_;
  OnPacket onPacket_;
  OnClosed onClosed_;

  uint32_t bindIP_ = 0;
  asio::ip::udp::socket udp_;
  UdpBatches udpBatches_;
  asio::ip::udp::socket fleetUdp_;
  std::unique_ptr<UdpBatches> fleetBatches_;  // made with the socket
  OnPacket onFleetPacket_;
  FleetSink fleetSink_{*this};
  // Inside a batch of received datagrams: UDP sends wait for its end.
  bool batching_ = false;

  std::vector<std::shared_ptr<Listener>> listeners_;
  std::unordered_map<uint64_t, std::shared_ptr<TcpConnection>> connections_;
  std::unordered_map<uint32_t, size_t> perAddress_;
  uint64_t nextConnection_ = 1;
  Timer sweepTimer_;
  LifeGuard<ServerNetwork> guard_{this};
};

}  // namespace plimo
