#include "protocol/net/NetSocketFactory.h"

#include <asio/post.hpp>

#include "protocol/net/Net.h"
#include "protocol/net/RelayTCPLink.h"
#include "protocol/net/UDPSocket.h"

namespace plimo {

std::unique_ptr<DatagramLink> NetSocketFactory::openUdp(DatagramLink::PacketHandler onPacket) {
  return std::make_unique<UDPSocket>(loop_, std::move(onPacket));
}

std::unique_ptr<StreamLink> NetSocketFactory::openTcp(const std::string& ip, uint16_t port,
                                                      StreamLink::PacketHandler onPacket) {
  return std::make_unique<RelayTCPLink>(loop_, ip, port, std::move(onPacket));
}

void NetSocketFactory::resolveIPv4(const std::string& host, ResolveHandler done) {
  asio::post(resolver_.context(), [&loop = loop_, host, done = std::move(done)]() mutable {
    auto ip = plimo::resolveIPv4(host);
    loop.post([done = std::move(done), ip = std::move(ip)] { done(ip); });
  });
}

void NetSocketFactory::resolveAllIPv4(const std::string& host, ResolveAllHandler done) {
  asio::post(resolver_.context(), [&loop = loop_, host, done = std::move(done)]() mutable {
    auto ips = plimo::resolveAllIPv4(host);
    loop.post([done = std::move(done), ips = std::move(ips)] { done(ips); });
  });
}

std::string NetSocketFactory::localIPv4() { return plimo::localIPv4(); }

}  // namespace plimo
