#include "protocol/link/PartnerKeys.h"

#include <algorithm>

#include "core/Failure.h"
#include "protocol/crypto/PlimoCrypto.h"

namespace plimo {

namespace {

// Partners one own key may meet: a takeover needs 12 s of silence each, so
// this is days of them; beyond it the key is renewed like after a session.
constexpr size_t kMaxPartnersPerKey = 256;

}  // namespace

PlimoClient::PartnerKeys::PartnerKeys(PlimoClient& link) : link_(link) {}

std::optional<PlimoClient::PartnerKeys::Meeting> PlimoClient::PartnerKeys::meet(const std::string& partnerKeyHex) {
  auto key = PlimoCrypto::fromHex(partnerKeyHex);
  Bytes secret;
  try {
    if (key) secret = key_.sharedSecret(*key);
  } catch (const Failure&) {
    key.reset();  // hex, but no point on the curve: as bad as no key
  }
  if (!key) return std::nullopt;
  if (std::find(met_.begin(), met_.end(), *key) != met_.end() || met_.size() >= kMaxPartnersPerKey) {
    // Ending the attempt renews this side's key, so a real partner asking
    // again gets fresh session keys.
    link_.log("The partner's key was already used with this PC's key; refused, so that no session keys repeat");
    return std::nullopt;
  }
  met_.push_back(*key);
  return Meeting{SecureChannel::toPartner(PlimoCrypto::derivePeerKeys(secret, key_.publicKey(), *key)),
                 PlimoCrypto::checkNumber(key_.publicKey(), *key),
                 {PlimoCrypto::keyFingerprint(key_.publicKey(), 32), PlimoCrypto::keyFingerprint(*key, 32)}};
}

void PlimoClient::PartnerKeys::renew() {
  key_ = EcdhKey();
  met_.clear();
}

}  // namespace plimo
