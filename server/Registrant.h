#pragma once
// What a client's HELLO (and CONNECT) told the server about it, as the other
// handlers read it. Registration keeps one per session serial.

#include <cstdint>
#include <string>

namespace plimo {

struct Registrant {
  std::string id;  // 9 digits; empty before the first HELLO
  bool pinned = false;
  // The last HELLO announced unattended access: only trusted helpers get in.
  bool unattended = false;
  std::string lanIP = "0.0.0.0";
  uint16_t lanPort = 0;
  std::string peerKeyHex;  // 128 hex digits: the key the client offers partners
};

}  // namespace plimo
