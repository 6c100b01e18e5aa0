#pragma once
// What the server keeps about one client: its secure session, its ID and what
// its HELLO told, and its place in a partner pair.

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "protocol/wire/SecureChannel.h"
#include "server/Endpoint.h"

namespace plimo {

struct ClientSession {
  uint64_t serial = 0;  // never reused, so a stale reference finds nothing
  Endpoint endpoint;

  // The channel the client's packets open with. Empty until the first packet
  // sealed under a welcome's keys arrives (the session is "confirmed" then).
  std::shared_ptr<SecureChannel> channel;
  // The keys of the newest welcome, until a packet opens with them. Kept
  // apart so that a handshake sent in another's name (a forged UDP source)
  // never breaks a working session.
  std::shared_ptr<SecureChannel> pending;

  double lastRx = 0;  // last packet that opened (monotonic seconds)

  // Registration.
  std::string id;  // 9 digits; empty before the first HELLO
  bool pinned = false;
  // The last HELLO announced unattended access: only trusted helpers get in.
  bool unattended = false;
  std::string lanIP = "0.0.0.0";
  uint16_t lanPort = 0;
  std::string peerKeyHex;  // 128 hex digits: the key the client offers partners

  // Takes what HELLO or CONNECT says of the client's LAN address and partner
  // key; a field that does not parse keeps the earlier value.
  void noteLanAndKey(const std::string& ip, const std::string& port, const std::string& keyHex);

  // New keys replaced those of a running session: the next HELLO shows
  // whether the same client is still there (it names its ID).
  bool rekeyed = false;

  // PINs and UNPINs waiting for their database writes, and the client's
  // lines that came after them: those wait, since what they ask may depend
  // on the ID the answer gives (a CONNECT as the kept ID).
  uint32_t writesAwaited = 0;
  std::vector<std::string> heldLines;

  // Place in the session table's idleness order.
  std::list<uint64_t>::iterator order;
  bool confirmed = false;
};

}  // namespace plimo
