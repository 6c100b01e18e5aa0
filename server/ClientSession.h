#pragma once
// What the server's transport keeps about one client: its endpoint, its
// secure session and its place in the session table. What the client is
// (its ID, its partner) the handlers keep by its serial.

#include <cstdint>
#include <list>
#include <memory>

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

  // Place in the session table's idleness order.
  std::list<uint64_t>::iterator order;
  bool confirmed = false;
};

}  // namespace plimo
