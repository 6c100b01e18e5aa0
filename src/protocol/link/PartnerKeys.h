#pragma once
// This PC's own key for partner sessions, inside the PartnerSession (threads
// and lifetime as there): the key offered to the next partner, the partner
// keys already met with it, and the session keys and check number each
// meeting gives.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/crypto/EcdhKey.h"
#include "protocol/link/PlimoClient.h"
#include "protocol/wire/SecureChannel.h"

namespace plimo {

class PlimoClient::PartnerKeys {
 public:
  struct Meeting {
    std::shared_ptr<SecureChannel> channel;  // end to end
    std::string checkNumber;  // the number both people compare
    KeyFingerprints fingerprints;
  };

  explicit PartnerKeys(PlimoClient& link);

  // Offered to the next partner (in HELLO and CONNECT).
  const EcdhKey& offered() const { return key_; }
  // A partner's key (hex, from its introduction); nothing for a key that is
  // no point on the curve, or one met already.
  std::optional<Meeting> meet(const std::string& partnerKeyHex);
  // A new own key, met with no one yet.
  void renew();

 private:
  PlimoClient& link_;
  EcdhKey key_;
  // Partner keys already met with key_ (a takeover keeps it): the same pair
  // of keys again would give the same session keys, with counters from 1
  // again, so AES-GCM nonces would repeat.
  std::vector<Bytes> met_;
};

}  // namespace plimo
