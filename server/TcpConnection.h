#pragma once
// One TCP connection of the server: packets framed with a 2-byte big-endian
// length each way. At most kMaxDroppableQueued bytes of relayed partner
// traffic wait to be sent (more is dropped) and kMaxQueued in all (more
// means the client stopped reading: the connection ends); the bytes waiting
// in all connections count against one shared bound too.
//
// One thread (the server loop's io_context). Owned by ServerNetwork, which
// hears through Owner what the connection cannot handle itself.

#include <asio/ip/tcp.hpp>
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

#include "core/Bytes.h"
#include "core/EventLoop.h"
#include "protocol/wire/StreamFramer.h"
#include "server/Endpoint.h"

namespace plimo {

// Bytes waiting in all connections' queues, and how many may.
struct QueuedBytes {
  size_t total = 0;
  size_t max = 0;
};

class TcpConnection : public std::enable_shared_from_this<TcpConnection> {
 public:
  // Relayed bytes a connection may have waiting (as a client's own link).
  static constexpr size_t kMaxDroppableQueued = 2 * 1024 * 1024;
  static constexpr size_t kMaxQueued = 8 * 1024 * 1024;

  class Owner {
   public:
    // A whole packet arrived.
    virtual void packet(const Endpoint& from, ByteView packet) = 0;
    // The connection failed or the peer closed it.
    virtual void failed(uint64_t id) = 0;
    // The connection closed itself inside a send (its client stopped
    // reading, or the shared queues are full).
    virtual void overflowed(uint64_t id) = 0;

   protected:
    ~Owner() = default;
  };

  TcpConnection(Owner& owner, EventLoop& loop, QueuedBytes& queued, asio::ip::tcp::socket socket, Endpoint endpoint);

  void start() { read(); }
  void send(ByteView packet, bool droppable);
  void close();

  const Endpoint& endpoint() const { return endpoint_; }
  double lastRx() const { return lastRx_; }
  bool spoke() const { return spoke_; }
  double opened() const { return opened_; }

 private:
  struct Frame {
    Bytes bytes;
    bool droppable;
  };

  void read();
  void onRead(const std::error_code& error, size_t n);
  void write();
  void onWritten(const std::error_code& error);

  Owner& owner_;
  EventLoop& loop_;
  QueuedBytes& all_;
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

}  // namespace plimo
