#include "server/TcpConnection.h"

#include <asio/write.hpp>

namespace plimo {

TcpConnection::TcpConnection(Owner& owner, EventLoop& loop, QueuedBytes& queued, asio::ip::tcp::socket socket,
                             Endpoint endpoint)
    : owner_(owner),
      loop_(loop),
      all_(queued),
      socket_(std::move(socket)),
      endpoint_(endpoint),
      opened_(loop.now()),
      lastRx_(opened_) {}

void TcpConnection::send(ByteView packet, bool droppable) {
  Bytes frame = StreamFramer::frame(packet);
  if (frame.empty() || closed_) return;
  bool overTotal = all_.total + frame.size() > all_.max;
  if (droppable && (overTotal || droppableQueued_ + frame.size() > kMaxDroppableQueued)) return;
  if (overTotal || queued_ + frame.size() > kMaxQueued) {
    // Not reading for megabytes (a dead or hostile client), or the
    // server's queues are full and this one cannot wait.
    close();
    owner_.overflowed(endpoint_.conn);
    return;
  }
  queued_ += frame.size();
  all_.total += frame.size();
  if (droppable) droppableQueued_ += frame.size();
  waiting_.push_back({std::move(frame), droppable});
  if (!writing_) write();
}

void TcpConnection::close() {
  if (closed_) return;
  closed_ = true;
  // What waits here will never leave; a write under way is counted off
  // here too, its completion finds the connection closed.
  all_.total -= queued_;
  queued_ = droppableQueued_ = 0;
  std::error_code ignored;
  socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  socket_.close(ignored);
}

void TcpConnection::read() {
  auto self = shared_from_this();
  socket_.async_read_some(asio::buffer(buffer_), [self](const std::error_code& error, size_t n) {
    self->onRead(error, n);
  });
}

void TcpConnection::onRead(const std::error_code& error, size_t n) {
  if (closed_) return;
  if (error) {
    owner_.failed(endpoint_.conn);
    return;
  }
  bool ok = framer_.feed(ByteView(buffer_.data(), n), [this](ByteView packet) {
    // A packet may end this very connection (BYE); what follows is dropped.
    if (closed_) return;
    // Only whole packets count: a byte now and then keeps nothing open.
    lastRx_ = loop_.now();
    spoke_ = true;
    owner_.packet(endpoint_, packet);
  });
  if (closed_) return;
  if (!ok) {
    owner_.failed(endpoint_.conn);
    return;
  }
  read();
}

void TcpConnection::write() {
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

void TcpConnection::onWritten(const std::error_code& error) {
  writing_ = false;
  if (closed_) return;
  queued_ -= batch_.size();
  droppableQueued_ -= batchDroppable_;
  all_.total -= batch_.size();
  if (error) {
    owner_.failed(endpoint_.conn);
    return;
  }
  if (!waiting_.empty()) write();
}

}  // namespace plimo
