#include "server/Endpoint.h"

#include <arpa/inet.h>

namespace plimo {

std::string Endpoint::ipText() const {
  return std::to_string(ip >> 24) + "." + std::to_string(ip >> 16 & 0xFF) + "." +
         std::to_string(ip >> 8 & 0xFF) + "." + std::to_string(ip & 0xFF);
}

std::string Endpoint::text() const {
  return ipText() + ":" + std::to_string(port) + (isTcp() ? " (TCP)" : "");
}

bool parseIPv4(const std::string& text, uint32_t& ip) {
  in_addr addr{};
  if (inet_pton(AF_INET, text.c_str(), &addr) != 1) return false;
  ip = ntohl(addr.s_addr);
  return true;
}

}  // namespace plimo
