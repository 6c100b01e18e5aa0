#pragma once
// Small IPv4 helpers of the transport: name resolution, private ranges and the
// LAN address of this PC. All are safe from any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/Text.h"

namespace plimo {

// The first IPv4 address of `host` (a name or a dotted quad), or nothing.
// Blocks while the system resolver works; never call it on the main thread.
std::optional<std::string> resolveIPv4(const std::string& host);
// Every IPv4 address of `host`, each once, in the resolver's order (the
// servers of a fleet under one name); empty when it does not resolve.
std::vector<std::string> resolveAllIPv4(const std::string& host);

// True for 10/8, 172.16/12, 192.168/16 and the link-local 169.254/16.
bool isPrivate(std::string_view ip);

// True when a send to `ip` failed with `error` (an errno) because this PC's
// own policy refuses it into the LAN: on Linux a netfilter OUTPUT rule, ufw,
// or an AppArmor or SELinux network rule fail the send at once with EPERM or
// EACCES.
bool refusedByLocalPolicy(int error, std::string_view ip);

// This PC's LAN address: a wired or wireless card first, else any other
// interface that is up; "0.0.0.0" when there is none but the loopback.
std::string localIPv4();

// One interface that is up, not a loopback, with an IPv4 address.
struct InterfaceAddress {
  std::string name;
  std::string ip;
};
// Every such interface, in the system's order.
std::vector<InterfaceAddress> ipv4Interfaces();
// The choice localIPv4 makes among the interfaces, in the system's order.
std::string chooseLocalIPv4(const std::vector<InterfaceAddress>& interfaces);

}  // namespace plimo
