#include "server/ServerNetwork.h"

#include <asio/post.hpp>
#include <asio/write.hpp>
#include <deque>

#include "protocol/wire/StreamFramer.h"

namespace plimo {

struct ServerNetwork::Listener {
  explicit Listener(asio::io_context& context) : acceptor(context) {}
  asio::ip::tcp::acceptor acceptor;
  uint16_t port = 0;  // as bound (port 0 asks for any free one)
  Timer retry;  // after a failed accept
};

class ServerNetwork::Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(ServerNetwork& network, asio::ip::tcp::socket socket, Endpoint endpoint, double now)
      : network_(network), socket_(std::move(socket)), endpoint_(endpoint), opened_(now), lastRx_(now) {}

  void start() { read(); }

  void send(ByteView packet, bool droppable) {
    Bytes frame = StreamFramer::frame(packet);
    if (frame.empty() || closed_) return;
    bool overTotal = network_.queuedTotal_ + frame.size() > network_.maxQueuedTotal_;
    if (droppable && (overTotal || droppableQueued_ + frame.size() > kMaxDroppableQueued)) return;
    if (overTotal || queued_ + frame.size() > kMaxQueued) {
      // Not reading for megabytes (a dead or hostile client), or the
      // server's queues are full and this one cannot wait.
      close();
      network_.dropLater(endpoint_.conn);
      return;
    }
    queued_ += frame.size();
    network_.queuedTotal_ += frame.size();
    if (droppable) droppableQueued_ += frame.size();
    waiting_.push_back({std::move(frame), droppable});
    if (!writing_) write();
  }

  void close() {
    if (closed_) return;
    closed_ = true;
    // What waits here will never leave; a write under way is counted off
    // here too, its completion finds the connection closed.
    network_.queuedTotal_ -= queued_;
    queued_ = droppableQueued_ = 0;
    std::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
  }

  const Endpoint& endpoint() const { return endpoint_; }
  double lastRx() const { return lastRx_; }
  bool spoke() const { return spoke_; }
  double opened() const { return opened_; }

 private:
  struct Frame {
    Bytes bytes;
    bool droppable;
  };

  void read() {
    auto self = shared_from_this();
    socket_.async_read_some(asio::buffer(buffer_), [self](const std::error_code& error, size_t n) {
      self->onRead(error, n);
    });
  }

  void onRead(const std::error_code& error, size_t n) {
    if (closed_) return;
    if (error) {
      network_.dropConnection(endpoint_.conn, true);
      return;
    }
    bool ok = framer_.feed(ByteView(buffer_.data(), n), [this](ByteView packet) {
      // A packet may end this very connection (BYE); what follows is dropped.
      if (closed_) return;
      // Only whole packets count: a byte now and then keeps nothing open.
      lastRx_ = network_.loop_.now();
      spoke_ = true;
      network_.onPacket_(endpoint_, packet);
    });
    if (closed_) return;
    if (!ok) {
      network_.dropConnection(endpoint_.conn, true);
      return;
    }
    read();
  }

  void write() {
    writing_ = true;
    batch_.clear();
    batchDroppable_ = 0;
    while (!waiting_.empty()) {
      Frame& f = waiting_.front();
      append(batch_, f.bytes);
      if (f.droppable) batchDroppable_ += f.bytes.size();
      waiting_.pop_front();
    }
    auto self = shared_from_this();
    asio::async_write(socket_, asio::buffer(batch_), [self](const std::error_code& error, size_t) {
      self->onWritten(error);
    });
  }

  void onWritten(const std::error_code& error) {
    writing_ = false;
    if (closed_) return;
    queued_ -= batch_.size();
    droppableQueued_ -= batchDroppable_;
    network_.queuedTotal_ -= batch_.size();
    if (error) {
      network_.dropConnection(endpoint_.conn, true);
      return;
    }
    if (!waiting_.empty()) write();
  }

  ServerNetwork& network_;
  asio::ip::tcp::socket socket_;
  Endpoint endpoint_;
  double opened_;
  double lastRx_;
  bool spoke_ = false;
  bool closed_ = false;
  StreamFramer framer_;
  std::array<uint8_t, 8192> buffer_{};
  std::deque<Frame> waiting_;
  Bytes batch_;
  size_t batchDroppable_ = 0;
  size_t queued_ = 0;
  size_t droppableQueued_ = 0;
  bool writing_ = false;
};

ServerNetwork::ServerNetwork(asio::io_context& context, EventLoop& loop, size_t maxConnections,
                             size_t maxQueuedTotal)
    : context_(context),
      loop_(loop),
      maxConnections_(maxConnections),
      maxQueuedTotal_(maxQueuedTotal),
      udp_(context) {
  sweepTimer_ = loop_.every(1.0, [this] { sweep(); });
}

ServerNetwork::~ServerNetwork() {
  std::error_code ignored;
  udp_.close(ignored);
  for (auto& listener : listeners_) listener->acceptor.close(ignored);
  for (auto& [id, connection] : connections_) connection->close();
}

void ServerNetwork::setHandlers(OnPacket onPacket, OnClosed onClosed) {
  onPacket_ = std::move(onPacket);
  onClosed_ = std::move(onClosed);
}

bool ServerNetwork::openUdp(uint16_t port, std::string& error) {
  std::error_code ec;
  udp_.open(asio::ip::udp::v4(), ec);
  if (!ec) udp_.bind({asio::ip::address_v4::any(), port}, ec);
  if (ec) {
    error = ec.message();
    std::error_code ignored;
    udp_.close(ignored);
    return false;
  }
  // Room for bursts (thousands of clients handshaking at once) while the
  // loop is busy; the kernel caps it at its own limit.
  udp_.set_option(asio::socket_base::receive_buffer_size(8 * 1024 * 1024), ec);
  udp_.set_option(asio::socket_base::send_buffer_size(8 * 1024 * 1024), ec);
  // Sends never wait: a datagram the kernel cannot take now is dropped.
  udp_.non_blocking(true, ec);
  udpBatches_.prepare(udp_.native_handle());
  waitForUdp();
  return true;
}

uint16_t ServerNetwork::udpPort() const {
  std::error_code ec;
  auto local = udp_.local_endpoint(ec);
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
  if (!ec) acceptor.bind({asio::ip::address_v4::any(), port}, ec);
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

void ServerNetwork::waitForUdp() {
  std::weak_ptr<ServerNetwork> alive = guard_.weak();
  udp_.async_wait(asio::ip::udp::socket::wait_read, [this, alive](const std::error_code& error) {
    if (alive.expired() || error == asio::error::operation_aborted) return;
    readUdp();
    if (!alive.expired() && udp_.is_open()) waitForUdp();
  });
}

void ServerNetwork::readUdp() {
  // A few batches per wake-up, then the loop's other work (TCP, timers) has
  // its turn even under a flood.
  constexpr int kBatchesPerWake = 4;
  int fd = udp_.native_handle();
  batching_ = true;
  for (int i = 0; i < kBatchesPerWake; ++i) {
    size_t n = udpBatches_.receive(fd, [this](const Endpoint& from, ByteView packet) { onPacket_(from, packet); });
    udpBatches_.flush(fd);
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
        auto connection = std::make_shared<Connection>(*this, std::move(socket), endpoint, loop_.now());
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
  if (batching_) return udpBatches_.queue(udp_.native_handle(), to, packet);
  std::error_code ignored;
  udp_.send_to(asio::buffer(packet.data(), packet.size()),
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

void ServerNetwork::dropLater(uint64_t id) {
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
