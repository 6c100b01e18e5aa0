#include "protocol/net/UDPSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include "protocol/net/Net.h"
#include "protocol/wire/LinkLimits.h"

namespace plimo {

namespace {

// Bursts of screen-update datagrams must not overflow the kernel's queues
// while the I/O thread is briefly descheduled.
constexpr int kReceiveBuffer = 4 * 1024 * 1024;
constexpr int kSendBuffer = 1024 * 1024;
// Larger than any IPv4 UDP payload.
// A flood must not grow one batch without bound; the rest waits for the next
// readiness, which comes at once.
constexpr size_t kMaxBatch = 4096;

}  // namespace

UDPSocket::UDPSocket(EventLoop& loop, PacketHandler onPacket)
    : loop_(loop),
      delivery_(std::make_shared<Delivery>(Delivery{std::move(onPacket), true})),
      socket_(io_.context()),
      receiveBuffer_(link::kMaxDatagram) {
  std::error_code error;
  socket_.open(asio::ip::udp::v4(), error);
  if (!error) socket_.bind(asio::ip::udp::endpoint(asio::ip::address_v4::any(), 0), error);
  if (error) {
    io_.stop();
    throw std::system_error(error, "UDP socket");
  }
  std::error_code ignored;
  socket_.set_option(asio::socket_base::receive_buffer_size(kReceiveBuffer), ignored);
  socket_.set_option(asio::socket_base::send_buffer_size(kSendBuffer), ignored);
  socket_.non_blocking(true, ignored);
  localPort_ = socket_.local_endpoint(ignored).port();
  asio::post(io_.context(), [this] { waitReadable(); });
}

UDPSocket::~UDPSocket() {
  delivery_->alive = false;
  // Joins the I/O thread, so the handlers below, which use `this`, are over.
  io_.stop();
}

void UDPSocket::waitReadable() {
  socket_.async_wait(asio::socket_base::wait_read, [this](const std::error_code& error) {
    if (error) return;
    drain();
    waitReadable();
  });
}

void UDPSocket::drain() {
  std::vector<std::pair<Bytes, Address>> batch;
  Bytes& buffer = receiveBuffer_;
  while (batch.size() < kMaxBatch) {
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    ssize_t n = ::recvfrom(socket_.native_handle(), buffer.data(), buffer.size(), 0,
                           reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 0) break;  // empty (EAGAIN) or an error: the next readiness drains again
    if (n == 0 || from.sin_family != AF_INET) continue;
    char ip[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
    batch.emplace_back(Bytes(buffer.begin(), buffer.begin() + n), Address{ip, ntohs(from.sin_port)});
  }
  if (batch.empty()) return;
  loop_.post([delivery = delivery_, batch = std::move(batch)]() mutable {
    for (auto& [data, from] : batch) {
      if (!delivery->alive) return;  // the owner dropped the socket inside a handler
      delivery->onPacket(std::move(data), from);
    }
  });
}

void UDPSocket::send(ByteView data, const Address& to) {
  if (data.empty() || to.ip.empty()) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(to.port);
  if (inet_pton(AF_INET, to.ip.c_str(), &address.sin_addr) != 1) return;
  std::lock_guard<std::mutex> guard(sendLock_);
  ssize_t sent = ::sendto(socket_.native_handle(), data.data(), data.size(), 0,
                          reinterpret_cast<const sockaddr*>(&address), sizeof address);
  if (sent >= 0) return;
  int code = errno;
  lastSendError_ = std::system_category().message(code) + " (to " + to.text() + ")";
  if (refusedByLocalPolicy(code, to.ip)) localNetworkBlocked_ = true;
}

std::string UDPSocket::lastSendError() const {
  std::lock_guard<std::mutex> guard(sendLock_);
  return lastSendError_;
}

bool UDPSocket::localNetworkBlocked() const {
  std::lock_guard<std::mutex> guard(sendLock_);
  return localNetworkBlocked_;
}

}  // namespace plimo
