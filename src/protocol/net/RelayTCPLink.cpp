#include "protocol/net/RelayTCPLink.h"

#include <asio/connect.hpp>
#include <asio/post.hpp>
#include <asio/write.hpp>
#include <system_error>
#include <vector>

namespace plimo {

namespace {

constexpr size_t kReadChunk = 65536;
// Relayed screen traffic must not build an ever-growing backlog on a slow
// link; control packets are never dropped, so the session survives.
constexpr size_t kMaxDroppableQueue = 2 * 1024 * 1024;

}  // namespace

RelayTCPLink::RelayTCPLink(EventLoop& loop, const std::string& ip, uint16_t port, PacketHandler onPacket)
    : loop_(loop),
      port_(port),
      delivery_(std::make_shared<Delivery>(Delivery{std::move(onPacket), true})),
      socket_(io_.context()),
      readBuffer_(kReadChunk) {
  asio::post(io_.context(), [this, ip] { connect(ip); });
}

RelayTCPLink::~RelayTCPLink() {
  delivery_->alive = false;
  // Joins the I/O thread: no handler below, all of which use `this`, runs
  // after this line.
  io_.stop();
}

void RelayTCPLink::connect(const std::string& ip) {
  std::error_code error;
  auto address = asio::ip::make_address_v4(ip, error);
  if (error) return end(error.message());
  socket_.async_connect(asio::ip::tcp::endpoint(address, port_), [this](const std::error_code& e) {
    if (e) return end(e.message());
    onConnected();
  });
}

void RelayTCPLink::onConnected() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (done_) return;
    connected_ = true;
  }
  std::error_code ignored;
  // Most packets are small and latency-bound (input, acknowledgements).
  socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
  readMore();
  writeNext();
}

void RelayTCPLink::readMore() {
  socket_.async_read_some(asio::buffer(readBuffer_), [this](const std::error_code& error, size_t n) {
    deliver(ByteView(readBuffer_).first(n));
    if (error == asio::error::eof) return end("the server closed the connection");
    if (error) return end(error.message());
    if (done()) return;
    readMore();
  });
}

void RelayTCPLink::deliver(ByteView data) {
  std::vector<Bytes> batch;
  // Nothing of this read is trusted once the stream is out of step.
  if (!framer_.feed(data, [&](ByteView packet) { batch.emplace_back(packet.begin(), packet.end()); })) {
    return end("bad data from the server");
  }
  if (batch.empty()) return;
  loop_.post([delivery = delivery_, batch = std::move(batch)]() mutable {
    for (auto& packet : batch) {
      if (!delivery->alive) return;  // the owner dropped the link inside a handler
      delivery->onPacket(std::move(packet));
    }
  });
}

void RelayTCPLink::send(ByteView data, bool droppable) {
  Bytes frame = StreamFramer::frame(data);
  if (frame.empty()) return;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (done_) return;
    if (!admits(queued_, frame.size(), droppable)) return;
    queued_ += frame.size();
  }
  asio::post(io_.context(), [this, frame = std::move(frame)]() mutable {
    outbox_.push_back(std::move(frame));
    if (connected()) writeNext();
  });
}

bool RelayTCPLink::admits(size_t queued, size_t frameSize, bool droppable) {
  return !droppable || queued + frameSize <= kMaxDroppableQueue;
}

void RelayTCPLink::writeNext() {
  if (writing_ || outbox_.empty()) return;
  writing_ = true;
  asio::async_write(socket_, asio::buffer(outbox_.front()), [this](const std::error_code& error, size_t) {
    writing_ = false;
    {
      std::lock_guard<std::mutex> guard(lock_);
      queued_ -= outbox_.front().size();
    }
    outbox_.pop_front();
    if (error) return end(error.message());
    writeNext();
  });
}

void RelayTCPLink::cancel() {
  finish("closed");
  asio::post(io_.context(), [this] { end("closed"); });
}

void RelayTCPLink::end(const std::string& reason) {
  finish(reason);
  std::error_code ignored;
  socket_.close(ignored);
}

void RelayTCPLink::finish(const std::string& reason) {
  std::lock_guard<std::mutex> guard(lock_);
  if (error_.empty()) error_ = reason;
  connected_ = false;
  done_ = true;
}

bool RelayTCPLink::connected() const {
  std::lock_guard<std::mutex> guard(lock_);
  return connected_;
}

bool RelayTCPLink::done() const {
  std::lock_guard<std::mutex> guard(lock_);
  return done_;
}

std::string RelayTCPLink::error() const {
  std::lock_guard<std::mutex> guard(lock_);
  return error_;
}

size_t RelayTCPLink::queued() const {
  std::lock_guard<std::mutex> guard(lock_);
  return queued_;
}

}  // namespace plimo
