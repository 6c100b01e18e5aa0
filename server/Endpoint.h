#pragma once
// Where a client's packets come from and go to: a UDP address, or one TCP
// connection (whose packets are framed on the stream).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace plimo {

struct Endpoint {
  enum class Kind : uint8_t { udp, tcp };

  Kind kind = Kind::udp;
  uint32_t ip = 0;    // IPv4, host order
  uint16_t port = 0;  // host order
  uint64_t conn = 0;  // TCP connection number (never reused); 0 for UDP

  bool operator==(const Endpoint&) const = default;

  static Endpoint udp(uint32_t ip, uint16_t port) { return {Kind::udp, ip, port, 0}; }
  static Endpoint tcp(uint32_t ip, uint16_t port, uint64_t conn) {
    return {Kind::tcp, ip, port, conn};
  }

  bool isTcp() const { return kind == Kind::tcp; }
  // Dotted quad.
  std::string ipText() const;
  // "ip:port", and " (TCP)" for a connection, for the log.
  std::string text() const;
};

// Dotted-quad text to a host-order address; false for anything else.
bool parseIPv4(const std::string& text, uint32_t& ip);

}  // namespace plimo

template <>
struct std::hash<plimo::Endpoint> {
  size_t operator()(const plimo::Endpoint& e) const noexcept {
    uint64_t v = (uint64_t(e.ip) << 16 | e.port) ^ (e.conn * 0x9e3779b97f4a7c15ULL) ^
                 (uint64_t(e.kind) << 60);
    return std::hash<uint64_t>{}(v);
  }
};
