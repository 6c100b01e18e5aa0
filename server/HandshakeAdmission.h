#pragma once
// Which handshakes the server works on: a rate per source address, a bound
// on the sessions one address holds, and a share of the server thread's time
// (measured: each costs a key, an agreement and a signature), part of which
// only clients whose address is proven may use.
//
// One thread (the server loop).

#include <cstddef>

#include "core/TokenBucket.h"
#include "server/ClientSession.h"
#include "server/RateLimiter.h"
#include "server/RelayConfig.h"

namespace plimo {

class HandshakeAdmission {
 public:
  enum class Verdict { admitted, rateLimited, overBudget };

  explicit HandshakeAdmission(const RelayConfig& config);

  // A handshake from `from`, where `known` is the endpoint's session
  // (nothing for a new client) and `atAddress` the sessions its address holds.
  Verdict admit(const Endpoint& from, const ClientSession* known, size_t atAddress, double now);
  // Known endpoints (a client re-handshaking after a reset or a lost
  // session) and TCP clients (whose source address a completed connection
  // proves) come first: a flood from forged UDP sources never takes their part.
  static bool preferred(const Endpoint& from, const ClientSession* known) {
    return from.isTcp() || (known && known->confirmed);
  }
  // The work of one handshake is done, whatever its outcome.
  void spent(double seconds) { budget_.spend(seconds); }

 private:
  RateLimiter perAddress_;
  TokenBucket budget_;
  double share_;
  size_t maxPerAddress_;
};

}  // namespace plimo
