#pragma once
// A protocol-speaking test client over real loopback sockets: UDP datagrams
// or a TCP connection with 2-byte length framing.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <random>
#include <optional>
#include <string>
#include <vector>

#include "protocol/wire/StreamFramer.h"
#include "server/ClientCodec.h"

namespace plimo::e2e {

// A port nothing listens on right now. Taken below the kernel's ephemeral
// range, so that no other process's outgoing socket can take it between this
// check and the bind of whoever uses it.
inline uint16_t freePort(int type) {
  static std::minstd_rand pick(static_cast<unsigned>(::getpid()) ^ static_cast<unsigned>(::time(nullptr)));
  for (;;) {
    uint16_t port = static_cast<uint16_t>(20000 + pick() % 12000);
    int fd = ::socket(AF_INET, type, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    if (free) return port;
  }
}

class NetClient {
 public:
  // `tcp`: connect to the port over TCP, else send UDP datagrams to it, at
  // the loopback address `ip` (host order).
  NetClient(uint16_t port, bool tcp, uint32_t ip = INADDR_LOOPBACK) : tcp_(tcp) {
    fd_ = ::socket(AF_INET, tcp ? SOCK_STREAM : SOCK_DGRAM, 0);
    server_.sin_family = AF_INET;
    server_.sin_port = htons(port);
    server_.sin_addr.s_addr = htonl(ip);
    if (tcp) {
      connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&server_), sizeof server_) == 0;
      int one = 1;
      ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
  }
  ~NetClient() { ::close(fd_); }
  NetClient(const NetClient&) = delete;
  NetClient& operator=(const NetClient&) = delete;

  bool connected() const { return !tcp_ || connected_; }
  // The client's own socket, for benches that send and receive in batches.
  int socket() const { return fd_; }

  // Raw bytes on a TCP stream (no framing), for garbage.
  void sendStream(ByteView data) { (void)!::send(fd_, data.data(), data.size(), MSG_NOSIGNAL); }

  void send(ByteView packet) {
    if (tcp_) {
      Bytes frame = StreamFramer::frame(packet);
      sendStream(frame);
    } else {
      ::sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&server_), sizeof server_);
    }
  }

  // The next packet within `seconds`, or nothing.
  std::optional<Bytes> receive(double seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
      if (!queue_.empty()) {
        Bytes p = std::move(queue_.front());
        queue_.erase(queue_.begin());
        return p;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, int(left.count())) <= 0) return std::nullopt;
      uint8_t buffer[65536];
      ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) {
        if (tcp_) return std::nullopt;  // closed
        continue;
      }
      if (tcp_) {
        auto take = [&](ByteView packet) { queue_.emplace_back(packet.begin(), packet.end()); };
        if (!framer_.feed(ByteView(buffer, size_t(n)), take)) return std::nullopt;  // the server's stream is out of step
      } else {
        queue_.emplace_back(buffer, buffer + n);
      }
    }
  }

  // Handshake (retried up to three times) and a verified welcome.
  bool handshake(double seconds = 2) {
    for (int i = 0; i < 3; ++i) {
      send(codec.handshake());
      auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
      while (std::chrono::steady_clock::now() < end) {
        auto p = receive(seconds);
        if (!p) break;
        if (codec.welcome(*p)) return true;
      }
    }
    return false;
  }

  // Sends a sealed line; returns the lines that arrive within `seconds`
  // (stopping early at a line starting with `until`).
  std::vector<std::string> say(const std::string& line, const std::string& until = "", double seconds = 2) {
    send(codec.seal(line));
    std::vector<std::string> lines;
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
      auto p = receive(std::chrono::duration<double>(end - std::chrono::steady_clock::now()).count());
      if (!p) break;
      if (auto text = codec.open(*p)) {
        lines.push_back(*text);
        if (!until.empty() && text->rfind(until, 0) == 0) break;
      }
    }
    return lines;
  }

  // Handshake and the first HELLO of a session (answered by ID and PORTS);
  // the ID ("" on failure).
  // Asks the server to introduce this client to `id`: the lines until PEER.
  std::vector<std::string> connectTo(const std::string& id) {
    return say("CONNECT " + id + " 127.0.0.1 1 " + std::string(128, 'A'), "PEER");
  }

  std::string registerAs(const std::string& wanted = "0") {
    if (!handshake()) return {};
    for (auto& line : say("HELLO " + wanted + " 127.0.0.1 1 " + std::string(128, 'A') + " 127.0.0.1 0", "PORTS")) {
      if (line.rfind("ID ", 0) == 0) return line.substr(3, 9);
    }
    return {};
  }

  testkit::ClientCodec codec;

 private:
  bool tcp_;
  bool connected_ = false;
  int fd_;
  sockaddr_in server_{};
  StreamFramer framer_;
  std::vector<Bytes> queue_;
};

}  // namespace plimo::e2e
