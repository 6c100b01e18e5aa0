#include "protocol/net/Net.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace plimo {

std::optional<std::string> resolveIPv4(const std::string& host) {
  std::vector<std::string> all = resolveAllIPv4(host);
  if (all.empty()) return std::nullopt;
  return all.front();
}

std::vector<std::string> resolveAllIPv4(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || list == nullptr) {
    if (list) freeaddrinfo(list);
    return {};
  }
  std::vector<std::string> all;
  for (const addrinfo* a = list; a; a = a->ai_next) {
    if (!a->ai_addr || a->ai_family != AF_INET) continue;
    char text[INET_ADDRSTRLEN] = {};
    auto* sin = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
    if (!inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text)) continue;
    if (std::find(all.begin(), all.end(), text) == all.end()) all.push_back(text);
  }
  freeaddrinfo(list);
  return all;
}

bool isPrivate(std::string_view ip) {
  std::vector<int64_t> parts;
  size_t from = 0;
  while (from <= ip.size()) {
    size_t dot = ip.find('.', from);
    if (dot == std::string_view::npos) dot = ip.size();
    auto part = ip.substr(from, dot - from);
    if (!part.empty()) {
      if (auto n = parseDecimal(part)) parts.push_back(*n);
    }
    from = dot + 1;
  }
  if (parts.size() != 4) return false;
  int64_t a = parts[0], b = parts[1];
  return a == 10 || (a == 172 && b >= 16 && b <= 31) || (a == 192 && b == 168) ||
         (a == 169 && b == 254);
}

bool refusedByLocalPolicy(int error, std::string_view ip) {
  return (error == EPERM || error == EACCES) && isPrivate(ip);
}

std::string chooseLocalIPv4(const std::vector<InterfaceAddress>& interfaces) {
  // Names of wired and wireless LAN cards on Linux (predictable names like
  // enp3s0 and wlp2s0, and the older eth0 and wlan0); tunnels, bridges and
  // container links come after them.
  for (const auto& i : interfaces) {
    std::string_view name = i.name;
    if (name.starts_with("en") || name.starts_with("eth") || name.starts_with("wl")) return i.ip;
  }
  if (!interfaces.empty()) return interfaces.front().ip;
  return "0.0.0.0";
}

std::vector<InterfaceAddress> ipv4Interfaces() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return {};
  std::vector<InterfaceAddress> found;
  for (ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
    if (!(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK)) continue;
    char text[INET_ADDRSTRLEN] = {};
    auto* sin = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
    if (!inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text)) continue;
    found.push_back({i->ifa_name ? i->ifa_name : "", text});
  }
  freeifaddrs(list);
  return found;
}

std::string localIPv4() { return chooseLocalIPv4(ipv4Interfaces()); }

}  // namespace plimo
