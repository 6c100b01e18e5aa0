#pragma once
// OpenSSL handles and P-256 key conversions shared by EcdhKey and SigningKey.
// Internal to the protocol library: nothing outside it includes OpenSSL.

#include <openssl/evp.h>

#include <memory>

#include "core/Bytes.h"

namespace plimo::evp {

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct PkeyCtxFree {
  void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

// Keys are immutable once made, so copies of a key holder share one handle.
using Pkey = std::shared_ptr<EVP_PKEY>;
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

inline Pkey wrap(EVP_PKEY* key) { return Pkey(key, PkeyFree{}); }

// Stops the process for a failure that only a broken OpenSSL or a caller's
// programming error can cause (never for bad input).
[[noreturn]] void fatal(const char* what);

// A fresh random P-256 private key; aborts when OpenSSL cannot make one.
Pkey generateP256();

// The 64-byte wire form of a P-256 key's public point.
Bytes rawPublicKey(EVP_PKEY* key);

// A P-256 public key from its 64-byte wire form, or null for a wrong length
// or a point that is not on the curve.
Pkey publicKeyFromRaw(ByteView raw);

// True for a key whose type is EC on the P-256 curve.
bool isP256(EVP_PKEY* key);

}  // namespace plimo::evp
