#pragma once
// Forged traffic against a server on loopback, for flood tests and benches:
// handshakes (each one key work for the server, none ever answered) and
// garbage, from many loopback source addresses (127.3.0.0/16).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "server/ClientCodec.h"

namespace plimo::e2e {

// A socket of `type` bound to its own loopback address (port chosen by the kernel).
inline int socketAt(int type, uint32_t ip) {
  int fd = ::socket(AF_INET, type, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(ip);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  return fd;
}

inline sockaddr_in loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// Half handshakes, half garbage: `perBurst` packets every 10 ms, spread over
// `sources` addresses, from its own thread until it is destroyed.
class Flood {
 public:
  Flood(uint16_t port, int perBurst, uint32_t sources = 200) {
    for (int i = 0; i < 500; ++i) handshakes_.push_back(codec_.handshake());
    for (uint32_t i = 1; i <= sources; ++i) fds_.push_back(socketAt(SOCK_DGRAM, 0x7F030000 + i));
    thread_ = std::thread([this, port, perBurst] { run(port, perBurst); });
  }
  ~Flood() {
    stop_ = true;
    thread_.join();
    for (int fd : fds_) ::close(fd);
  }
  Flood(const Flood&) = delete;
  Flood& operator=(const Flood&) = delete;

 private:
  void run(uint16_t port, int perBurst) {
    sockaddr_in to = loopback(port);
    const Bytes garbage(300, 0x12);
    size_t n = 0;
    while (!stop_) {
      for (int i = 0; i < perBurst; ++i, ++n) {
        const Bytes& p = n % 2 ? handshakes_[n % handshakes_.size()] : garbage;
        ::sendto(fds_[n % fds_.size()], p.data(), p.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&to), sizeof to);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  testkit::ClientCodec codec_;
  std::vector<Bytes> handshakes_;
  std::vector<int> fds_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace plimo::e2e
