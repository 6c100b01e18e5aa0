#pragma once
// The real sockets: UDPSocket, RelayTCPLink, and name resolution on a thread
// of its own, each answering on the given main loop.

#include "core/EventLoop.h"
#include "protocol/net/NetIoThread.h"
#include "protocol/net/SocketFactory.h"

namespace plimo {

class NetSocketFactory final : public SocketFactory {
 public:
  // `loop` must outlive the factory and everything it made. Destroying the
  // factory waits for a name lookup under way.
  explicit NetSocketFactory(EventLoop& loop) : loop_(loop) {}

  std::unique_ptr<DatagramLink> openUdp(DatagramLink::PacketHandler onPacket) override;
  std::unique_ptr<StreamLink> openTcp(const std::string& ip, uint16_t port,
                                      StreamLink::PacketHandler onPacket) override;
  void resolveIPv4(const std::string& host, ResolveHandler done) override;
  void resolveAllIPv4(const std::string& host, ResolveAllHandler done) override;
  std::string localIPv4() override;

 private:
  EventLoop& loop_;
  // getaddrinfo blocks and cannot be cancelled; lookups queue here, off the
  // main thread.
  NetIoThread resolver_;
};

}  // namespace plimo
