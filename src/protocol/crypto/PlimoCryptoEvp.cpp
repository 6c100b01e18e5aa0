#include "protocol/crypto/PlimoCryptoEvp.h"

#include <openssl/core_names.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "protocol/crypto/PlimoCrypto.h"

namespace plimo::evp {

namespace {

// OpenSSL's name for P-256 (secp256r1).
constexpr const char* kCurve = "prime256v1";
constexpr uint8_t kUncompressed = 0x04;

}  // namespace

void fatal(const char* what) {
  std::fprintf(stderr, "plimo: %s\n", what);
  std::abort();
}

Pkey generateP256() {
  EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", kCurve);
  if (!key) fatal("OpenSSL could not generate a P-256 key");
  return wrap(key);
}

Bytes rawPublicKey(EVP_PKEY* key) {
  uint8_t point[1 + PlimoCrypto::kPublicKeySize];
  size_t length = 0;
  // Keys made or parsed here always carry the uncompressed form.
  if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &length) !=
          1 ||
      length != sizeof point || point[0] != kUncompressed) {
    fatal("P-256 key without an uncompressed public point");
  }
  return Bytes(point + 1, point + sizeof point);
}

Pkey publicKeyFromRaw(ByteView raw) {
  if (raw.size() != PlimoCrypto::kPublicKeySize) return nullptr;
  uint8_t point[1 + PlimoCrypto::kPublicKeySize];
  point[0] = kUncompressed;
  std::memcpy(point + 1, raw.data(), raw.size());

  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, const_cast<char*>(kCurve), 0),
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point),
      OSSL_PARAM_construct_end(),
  };
  PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* key = nullptr;
  if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
      EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params) != 1) {
    return nullptr;
  }
  Pkey result = wrap(key);
  // Decoding already refuses points off the curve; the check makes it explicit
  // and also refuses the point at infinity.
  PkeyCtx check(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
  if (!check || EVP_PKEY_public_check_quick(check.get()) != 1) return nullptr;
  return result;
}

bool isP256(EVP_PKEY* key) {
  if (!key || !EVP_PKEY_is_a(key, "EC")) return false;
  char group[64] = {};
  size_t length = 0;
  if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                     &length) != 1) {
    return false;
  }
  return std::strcmp(group, kCurve) == 0;
}

}  // namespace plimo::evp
