#pragma once
// The IPv4 address of a peer: the server, or a partner's public or LAN end.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace plimo {

struct Address {
  std::string ip;     // dotted quad; empty means "through the server" on the partner path
  uint16_t port = 0;  // host order

  bool operator==(const Address&) const = default;
  // "ip:port", as the log and the connection report show it.
  std::string text() const { return ip + ":" + std::to_string(port); }
};

}  // namespace plimo

template <>
struct std::hash<plimo::Address> {
  size_t operator()(const plimo::Address& a) const noexcept {
    size_t h = std::hash<std::string>{}(a.ip);
    return h ^ (std::hash<uint16_t>{}(a.port) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
  }
};
