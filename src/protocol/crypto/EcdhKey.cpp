#include "protocol/crypto/EcdhKey.h"

#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/crypto/PlimoCryptoEvp.h"

namespace plimo {

namespace {

Failure badKey() { return Failure(Failure::Kind::badKey, "bad partner key"); }

}  // namespace

EcdhKey::EcdhKey() : key_(evp::generateP256()), publicKey_(evp::rawPublicKey(key_.get())) {}

Bytes EcdhKey::sharedSecret(ByteView peerPublic) const {
  evp::Pkey peer = evp::publicKeyFromRaw(peerPublic);
  if (!peer) throw badKey();
  evp::PkeyCtx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key_.get(), nullptr));
  Bytes secret(PlimoCrypto::kSecretSize);
  size_t length = secret.size();
  // The peer key was checked when it was parsed (on the curve, not infinity;
  // P-256 has cofactor 1, so that is all a point needs); validate = 0 spares
  // OpenSSL's full check, which costs another scalar multiplication.
  if (!ctx || EVP_PKEY_derive_init(ctx.get()) != 1 ||
      EVP_PKEY_derive_set_peer_ex(ctx.get(), peer.get(), 0) != 1 ||
      EVP_PKEY_derive(ctx.get(), secret.data(), &length) != 1 || length != secret.size()) {
    throw badKey();
  }
  return secret;
}

}  // namespace plimo
