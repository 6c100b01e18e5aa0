#pragma once
// An ephemeral P-256 key pair for key agreement.

#include <memory>

#include "core/Bytes.h"
#include "core/Failure.h"

struct evp_pkey_st;

namespace plimo {

// A value: every new EcdhKey holds a freshly generated random private key;
// copies share the same (immutable) key. Any thread may use it.
class EcdhKey {
 public:
  EcdhKey();

  // The 64-byte wire form (X ‖ Y, big-endian) of the public key.
  const Bytes& publicKey() const { return publicKey_; }

  // The 32-byte raw ECDH result (X of the shared point) with the partner's
  // 64-byte public key. Throws Failure::Kind::badKey for a key of the wrong
  // length or one that is not a point on P-256.
  Bytes sharedSecret(ByteView peerPublic) const;

 private:
  std::shared_ptr<evp_pkey_st> key_;
  Bytes publicKey_;
};

}  // namespace plimo
