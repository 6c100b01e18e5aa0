#include "server/HandshakeAdmission.h"

namespace plimo {

namespace {

// The part of the handshake budget that only preferred clients may use.
constexpr double kHandshakeReserve = 0.25;

}  // namespace

HandshakeAdmission::HandshakeAdmission(const RelayConfig& config)
    // A burst of two seconds' worth: a client's whole retry schedule fits.
    : perAddress_(Rate{config.handshakeRate, 2 * config.handshakeRate}, RateLimiter::kTrackedAddresses),
      share_(config.handshakeShare),
      maxPerAddress_(config.perAddressCapacity()) {}

HandshakeAdmission::Verdict HandshakeAdmission::admit(const Endpoint& from, const ClientSession* known,
                                                      size_t atAddress, double now) {
  if (!perAddress_.allow(from.ip, now)) return Verdict::rateLimited;
  if (!known && atAddress >= maxPerAddress_) return Verdict::rateLimited;
  // In seconds of work; a second's share at once (clients reconnecting after
  // a restart). The work is charged when it is done, whatever its outcome
  // (a key off the curve costs it too).
  Rate budget{share_, share_};
  if (!budget_.allows(now, budget, preferred(from, known) ? 0 : kHandshakeReserve * budget.burst)) {
    return Verdict::overBudget;
  }
  return Verdict::admitted;
}

}  // namespace plimo
