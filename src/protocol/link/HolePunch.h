#pragma once
// Hole punching, inside the PartnerSession (threads and lifetime as there):
// PUNCH lines to every address of the partner, and through the server when it
// offers relaying, on a timer until the partner answers or the tries run out,
// and the diagnostics of the attempt.

#include <optional>
#include <string>
#include <vector>

#include "protocol/link/PlimoClient.h"

namespace plimo {

class PlimoClient::HolePunch {
 public:
  HolePunch(PlimoClient& link, PartnerSession& partner);

  // The partner's addresses from its introduction and the relaying the
  // server offers: '-' none (older server), 'U' the partner reaches the
  // server over UDP, 'T' over the TCP fallback. Records a new attempt.
  void plan(const std::string& partnerID, const Address& publicAddress, const Address& lanAddress,
            char partnerRelay);
  // The first punch, then the timer, until locked(), stop() or giving up
  // (which fails the partner session's attempt).
  void start();
  // Packets from partner addresses while punching, and of those the ones
  // that authenticated.
  void countReceived() { ++received_; }
  void countOpened() { ++opened_; }
  // The partner answered on `path` (an empty IP: through the server).
  void locked(const Address& path);
  // The session ended or gave way, or the link stops.
  void stop();

  const std::optional<Attempt>& lastAttempt() const { return lastAttempt_; }

 private:
  friend class testkit::PlimoClientTestKit;

  // A try every 0.2 s for 10 s; from the 15th try (3 s in, long enough for
  // most NATs to open) punches also go through the server.
  static constexpr double punchInterval = 0.2;
  static constexpr int punchMaxTries = 50;
  static constexpr int relayPunchAfter = 15;

  void punch();
  void giveUp();

  PlimoClient& link_;
  PartnerSession& partner_;
  std::vector<Address> candidates_;  // public address first, LAN second
  char partnerRelay_ = '-';
  bool relayPunch_ = false;  // punches also go through the server
  int tries_ = 0;
  int received_ = 0;
  int opened_ = 0;
  std::optional<Attempt> lastAttempt_;
  Timer timer_;
};

}  // namespace plimo
