#pragma once
// The TCP connection to the server used when UDP does not get through. It
// carries the very packets UDP would, each behind a 2-byte big-endian length,
// on its own I/O thread; complete packets reach the main loop in one posted
// task per read. It waits for the connection as long as the system does; the
// owner decides when to give up (the server link: 5 s, on its loop).

#include <asio/ip/tcp.hpp>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "core/EventLoop.h"
#include "protocol/net/NetIoThread.h"
#include "protocol/net/SocketFactory.h"
#include "protocol/wire/StreamFramer.h"

namespace plimo {

class RelayTCPLink final : public StreamLink {
 public:
  // Starts connecting to ip:port at once. `loop` must outlive the link;
  // `onPacket` runs on the loop's thread and never after destruction.
  RelayTCPLink(EventLoop& loop, const std::string& ip, uint16_t port, PacketHandler onPacket);
  // Main loop's thread only. Frames not yet written are abandoned.
  ~RelayTCPLink() override;

  // Main loop's thread.
  void send(ByteView data, bool droppable) override;
  bool connected() const override;
  bool done() const override;
  std::string error() const override;
  uint16_t port() const override { return port_; }
  void cancel() override;

  // Bytes handed over and not yet written, frame headers included.
  size_t queued() const;
  // Whether a frame of `frameSize` bytes joins a queue holding `queued`.
  static bool admits(size_t queued, size_t frameSize, bool droppable);

 private:
  struct Delivery {
    PacketHandler onPacket;
    bool alive = true;  // main loop's thread only
  };

  // All of these run on the I/O thread.
  void connect(const std::string& ip);
  void onConnected();
  void readMore();
  void deliver(ByteView data);
  void writeNext();
  void end(const std::string& reason);

  // Records the first reason; the link is over from now on.
  void finish(const std::string& reason);

  EventLoop& loop_;
  const uint16_t port_;
  std::shared_ptr<Delivery> delivery_;
  NetIoThread io_;
  asio::ip::tcp::socket socket_;

  // I/O thread only.
  StreamFramer framer_;
  Bytes readBuffer_;
  std::deque<Bytes> outbox_;
  bool writing_ = false;

  mutable std::mutex lock_;  // guards the four fields below
  size_t queued_ = 0;
  bool connected_ = false;
  bool done_ = false;
  std::string error_;
};

}  // namespace plimo
