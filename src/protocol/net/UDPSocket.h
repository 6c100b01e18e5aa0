#pragma once
// The one IPv4 UDP socket of the server link. It reads on its own I/O thread
// and hands every datagram waiting at one readiness to the main loop in a
// single posted task; sends may come from any thread.

#include <asio/ip/udp.hpp>
#include <memory>
#include <mutex>
#include <string>

#include "core/EventLoop.h"
#include "protocol/net/NetIoThread.h"
#include "protocol/net/SocketFactory.h"

namespace plimo {

class UDPSocket final : public DatagramLink {
 public:
  // Binds 0.0.0.0 on a port the system picks. Throws std::system_error when
  // the socket cannot be made or bound. `loop` must outlive the socket;
  // `onPacket` runs on the loop's thread and never after destruction.
  UDPSocket(EventLoop& loop, PacketHandler onPacket);
  // Main loop's thread only.
  ~UDPSocket() override;

  void send(ByteView data, const Address& to) override;
  uint16_t localPort() const override { return localPort_; }
  std::string lastSendError() const override;
  bool localNetworkBlocked() const override;

 private:
  // Lives as long as any posted batch; `alive` is read and written on the
  // main loop's thread only.
  struct Delivery {
    PacketHandler onPacket;
    bool alive = true;
  };

  void waitReadable();
  void drain();

  EventLoop& loop_;
  std::shared_ptr<Delivery> delivery_;
  NetIoThread io_;
  asio::ip::udp::socket socket_;
  uint16_t localPort_ = 0;
  Bytes receiveBuffer_;  // I/O thread only

  mutable std::mutex sendLock_;  // the sendto call and the two fields below
  std::string lastSendError_;
  bool localNetworkBlocked_ = false;
};

}  // namespace plimo
