#include "protocol/Net.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <charconv>
#include <cstdint>

namespace plimo {

std::optional<std::string> resolveIPv4(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || list == nullptr) {
    if (list) freeaddrinfo(list);
    return std::nullopt;
  }
  std::optional<std::string> result;
  if (list->ai_addr && list->ai_family == AF_INET) {
    char text[INET_ADDRSTRLEN] = {};
    auto* sin = reinterpret_cast<const sockaddr_in*>(list->ai_addr);
    if (inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text)) result = text;
  }
  freeaddrinfo(list);
  return result;
}

std::optional<int64_t> parseDecimal(std::string_view text) {
  // from_chars takes a minus sign but not a plus.
  if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string_view trimWhitespace(std::string_view text) {
  auto isSpace = [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
  };
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return text;
}

std::string utf8Lossy(std::string_view bytes) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    auto b = uint8_t(bytes[i]);
    size_t length = 0;
    uint32_t min = 0;
    if (b < 0x80) {
      out.push_back(char(b));
      ++i;
      continue;
    }
    if (b >= 0xC2 && b <= 0xDF) length = 2, min = 0x80;
    else if (b >= 0xE0 && b <= 0xEF) length = 3, min = 0x800;
    else if (b >= 0xF0 && b <= 0xF4) length = 4, min = 0x10000;
    uint32_t code = length == 2 ? (b & 0x1F) : length == 3 ? (b & 0x0F) : (b & 0x07);
    size_t n = 1;
    while (length && n < length && i + n < bytes.size() && (uint8_t(bytes[i + n]) & 0xC0) == 0x80) {
      code = (code << 6) | (uint8_t(bytes[i + n]) & 0x3F);
      ++n;
    }
    bool valid = length && n == length && code >= min && code <= 0x10FFFF &&
                 !(code >= 0xD800 && code <= 0xDFFF);
    if (valid) {
      out.append(bytes.substr(i, n));
      i += n;
    } else {
      // One replacement per maximal bad prefix, then carry on after it.
      out.append(kReplacement);
      i += n;
    }
  }
  return out;
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

std::string localIPv4() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return "0.0.0.0";
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
  return chooseLocalIPv4(found);
}

}  // namespace plimo
