#include "protocol/crypto/Sha256Stream.h"

#include <openssl/evp.h>

#include "protocol/crypto/PlimoCryptoEvp.h"

namespace plimo {

void Sha256Stream::Free::operator()(evp_md_ctx_st* ctx) const { EVP_MD_CTX_free(ctx); }

Sha256Stream::Sha256Stream() : ctx_(EVP_MD_CTX_new()) {
  if (!ctx_ || EVP_DigestInit_ex(ctx_.get(), EVP_sha256(), nullptr) != 1) evp::fatal("SHA-256 failed");
}

Sha256Stream::~Sha256Stream() = default;

void Sha256Stream::add(ByteView bytes) {
  if (EVP_DigestUpdate(ctx_.get(), bytes.data(), bytes.size()) != 1) evp::fatal("SHA-256 failed");
}

Bytes Sha256Stream::finish() {
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx_.get(), out.data(), &length) != 1 ||
      EVP_DigestInit_ex(ctx_.get(), EVP_sha256(), nullptr) != 1)
    evp::fatal("SHA-256 failed");
  out.resize(length);
  return out;
}

}  // namespace plimo
