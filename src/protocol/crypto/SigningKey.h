#pragma once
// ECDSA P-256 with SHA-256: the server's long-term key, and the check the
// client makes of the server's signature.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/Bytes.h"

struct evp_pkey_st;

namespace plimo {

// True when `signature` (64 bytes, r ‖ s big-endian) is a valid ECDSA P-256 /
// SHA-256 signature of `data` under `publicKey` (64-byte wire form). Any
// wrong length, point off the curve or malformed signature gives false.
// Any thread.
bool verifyEcdsa(ByteView publicKey, ByteView data, ByteView signature);

// A long-term P-256 signing key (the server's identity). A value: copies
// share one immutable key. Any thread may use it.
class SigningKey {
 public:
  // A fresh random key.
  static SigningKey generate();

  // A key from PEM text: PKCS#8 ("BEGIN PRIVATE KEY", as toPem writes) or
  // SEC1 ("BEGIN EC PRIVATE KEY", as `openssl ecparam -genkey` writes).
  // Nothing for unreadable text, an encrypted key or a key that is not P-256.
  static std::optional<SigningKey> fromPem(std::string_view pem);

  // Reads the file at `path` with fromPem; nothing when it cannot be read.
  static std::optional<SigningKey> loadPemFile(const std::string& path);

  // The private key as unencrypted PKCS#8 PEM.
  std::string toPem() const;

  // Writes toPem() to `path` readable by the owner only (mode 0600), whole:
  // through a temporary file beside it and a rename, so a crash never leaves
  // half a key. False when any step fails.
  bool savePemFile(const std::string& path) const;

  // The 64-byte wire form (X ‖ Y, big-endian) of the public key.
  const Bytes& publicKey() const { return publicKey_; }

  // A 64-byte signature r ‖ s (big-endian, 32 bytes each) of SHA-256(data).
  Bytes sign(ByteView data) const;

 private:
  explicit SigningKey(std::shared_ptr<evp_pkey_st> key);

  std::shared_ptr<evp_pkey_st> key_;
  Bytes publicKey_;
};

}  // namespace plimo
