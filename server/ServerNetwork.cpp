#include "server/ServerNetwork.h"

#include <asio/post.hpp>

namespace plimo {

struct ServerNetwork::Listener {
  explicit Listener(asio::io_context& context) : acceptor(context) {}
  asio::ip::tcp::acceptor acceptor;
  uint16_t port = 0;  // as bound (port 0 asks for any free one)
  Timer retry;  // after a failed accept
};

ServerNetwork::ServerNetwork(asio::io_context& context, EventLoop& loop, size_t maxConnections,
                             size_t maxQueuedTotal)
    : context_(context),
      loop_(loop),
      maxConnections_(maxConnections),
      queued_{0, maxQueuedTotal},
      udp_(context),
      fleetUdp_(context) {
  sweepTimer_ = loop_.every(1.0, [this] { sweep(); });
}

ServerNetwork::~ServerNetwork() {
  std::error_code ignored;
  udp_.close(ignored);
  fleetUdp_.close(ignored);
  for (auto& listener : listeners_) listener->acceptor.close(ignored);
  for (auto& [id, connection] : connections_) connection->close();
}

void ServerNetwork::setHandlers(OnPacket onPacket, OnClosed onClosed) {
  onPacket_ = std::move(onPacket);
  onClosed_ = std::move(onClosed);
}

bool ServerNetwork::openUdp(uint16_t port, std::string& error) {
  if (!bindUdp(udp_, udpBatches_, port, error)) return false;
  waitForUdp(udp_);
  return true;
}

bool ServerNetwork::openFleetUdp(uint16_t port, OnPacket onPacket, std::string& error) {
  fleetBatches_ = std::make_unique<UdpBatches>();
  if (!bindUdp(fleetUdp_, *fleetBatches_, port, error)) return false;
  onFleetPacket_ = std::move(onPacket);
  waitForUdp(fleetUdp_);
  return true;
}

bool ServerNetwork::bindUdp(asio::ip::udp::socket& socket, UdpBatches& batches, uint16_t port,
                            std::string& error) {
  std::error_code ec;
  socket.open(asio::ip::udp::v4(), ec);
  if (!ec) socket.bind({asio::ip::address_v4(bindIP_), port}, ec);
  if (ec) {
    error = ec.message();
    std::error_code ignored;
    socket.close(ignored);
    return false;
  }
  // Room for bursts (thousands of clients handshaking at once) while the
  // loop is busy; the kernel caps it at its own limit.
  socket.set_option(asio::socket_base::receive_buffer_size(8 * 1024 * 1024), ec);
  socket.set_option(asio::socket_base::send_buffer_size(8 * 1024 * 1024), ec);
  // Sends never wait: a datagram the kernel cannot take now is dropped.
  socket.non_blocking(true, ec);
  batches.prepare(socket.native_handle());
  return true;
}

uint16_t ServerNetwork::udpPort() const {
  std::error_code ec;
  auto local = udp_.local_endpoint(ec);
  return ec ? 0 : local.port();
}

uint16_t ServerNetwork::fleetPort() const {
  std::error_code ec;
  auto local = fleetUdp_.local_endpoint(ec);
  return ec ? 0 : local.port();
}

std::vector<uint16_t> ServerNetwork::tcpPorts() const {
  std::vector<uint16_t> ports;
  for (const auto& listener : listeners_) ports.push_back(listener->port);
  return ports;
}

bool ServerNetwork::openTcp(uint16_t port, std::string& error) {
  auto listener = std::make_shared<Listener>(context_);
  std::error_code ec;
  auto& acceptor = listener->acceptor;
  acceptor.open(asio::ip::tcp::v4(), ec);
  if (!ec) acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true), ec);
  if (!ec) acceptor.bind({asio::ip::address_v4(bindIP_), port}, ec);
  if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (!ec) listener->port = acceptor.local_endpoint(ec).port();
  if (ec) {
    error = ec.message();
    return false;
  }
  listeners_.push_back(listener);
  accept(listener);
  return true;
}

void ServerNetwork::waitForUdp(asio::ip::udp::socket& socket) {
  std::weak_ptr<ServerNetwork> alive = guard_.weak();
  socket.async_wait(asio::ip::udp::socket::wait_read, [this, alive, &socket](const std::error_code& error) {
    if (alive.expired() || error == asio::error::operation_aborted) return;
    readUdp(socket);
    if (!alive.expired() && socket.is_open()) waitForUdp(socket);
  });
}

void ServerNetwork::readUdp(asio::ip::udp::socket& socket) {
  // A few batches per wake-up, then the loop's other work (TCP, timers) has
  // its turn even under a flood.
  constexpr int kBatchesPerWake = 4;
  bool fleet = &socket == &fleetUdp_;
  UdpBatches& batches = fleet ? *fleetBatches_ : udpBatches_;
  const OnPacket& handler = fleet ? onFleetPacket_ : onPacket_;
  batching_ = true;
  for (int i = 0; i < kBatchesPerWake; ++i) {
    size_t n = batches.receive(socket.native_handle(),
                               [&handler](const Endpoint& from, ByteView packet) { handler(from, packet); });
    // What the batch relayed leaves from either socket.
    udpBatches_.flush(udp_.native_handle());
    if (fleetBatches_) fleetBatches_->flush(fleetUdp_.native_handle());
    if (n < UdpBatches::kBatch) break;
  }
  batching_ = false;
}

void ServerNetwork::accept(const std::shared_ptr<Listener>& listener) {
  std::weak_ptr<ServerNetwork> alive = guard_.weak();
  listener->acceptor.async_accept([this, alive, listener](const std::error_code& error, asio::ip::tcp::socket socket) {
    if (alive.expired() || error == asio::error::operation_aborted) return;
    if (!error) {
      std::error_code ec;
      auto remote = socket.remote_endpoint(ec);
      uint32_t ip = !ec && remote.address().is_v4() ? remote.address().to_v4().to_uint() : 0;
      auto held = perAddress_.find(ip);
      size_t fromThere = held == perAddress_.end() ? 0 : held->second;
      if (ip && connections_.size() < maxConnections_ && fromThere < kMaxConnectionsPerAddress) {
        socket.set_option(asio::ip::tcp::no_delay(true), ec);
        uint64_t id = nextConnection_++;
        ++perAddress_[ip];
        Endpoint endpoint = Endpoint::tcp(ip, remote.port(), id);
        TcpConnection::Owner& owner = *this;
        auto connection = std::make_shared<TcpConnection>(owner, loop_, queued_, std::move(socket), endpoint);
        connections_.emplace(id, connection);
        connection->start();
      }
      // Otherwise the socket closes as it goes out of scope.
      accept(listener);
      return;
    }
    // Out of file descriptors or memory: accepting again at once would spin.
    std::weak_ptr<Listener> weakListener = listener;
    listener->retry = loop_.after(0.1, [this, alive, weakListener] {
      auto l = weakListener.lock();
      if (l && !alive.expired()) accept(l);
    });
  });
}

void ServerNetwork::send(const Endpoint& to, ByteView packet, bool droppable) {
  if (to.isTcp()) {
    auto it = connections_.find(to.conn);
    if (it != connections_.end()) it->second->send(packet, droppable);
    return;
  }
  sendUdp(udp_, udpBatches_, to, packet);
}

void ServerNetwork::FleetSink::send(const Endpoint& to, ByteView packet, bool) {
  if (network.fleetBatches_) network.sendUdp(network.fleetUdp_, *network.fleetBatches_, to, packet);
}

void ServerNetwork::sendUdp(asio::ip::udp::socket& socket, UdpBatches& batches, const Endpoint& to,
                            ByteView packet) {
  if (batching_) return batches.queue(socket.native_handle(), to, packet);
  std::error_code ignored;
  socket.send_to(asio::buffer(packet.data(), packet.size()),
                 asio::ip::udp::endpoint(asio::ip::address_v4(to.ip), to.port), 0, ignored);
}

void ServerNetwork::close(const Endpoint& to) {
  if (to.isTcp()) dropConnection(to.conn, false);
}

void ServerNetwork::dropConnection(uint64_t id, bool tellServer) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return;
  auto connection = it->second;  // alive until the end of this call
  connections_.erase(it);
  auto count = perAddress_.find(connection->endpoint().ip);
  if (--count->second == 0) perAddress_.erase(count);
  connection->close();
  if (tellServer && onClosed_) onClosed_(connection->endpoint());
}

void ServerNetwork::packet(const Endpoint& from, ByteView packet) { onPacket_(from, packet); }

void ServerNetwork::failed(uint64_t id) { dropConnection(id, true); }

void ServerNetwork::overflowed(uint64_t id) {
  std::weak_ptr<ServerNetwork> alive = guard_.weak();
  asio::post(context_, [this, alive, id] {
    if (!alive.expired()) dropConnection(id, true);
  });
}

void ServerNetwork::sweep() {
  double now = loop_.now();
  std::vector<uint64_t> stale;
  for (auto& [id, connection] : connections_) {
    if (now - connection->lastRx() > kTcpSilence ||
        (!connection->spoke() && now - connection->opened() > kTcpFirstPacket)) {
      stale.push_back(id);
    }
  }
  for (uint64_t id : stale) dropConnection(id, true);
}

}  // namespace plimo
