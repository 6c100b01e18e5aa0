#include "protocol/crypto/SigningKey.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/crypto/PlimoCryptoEvp.h"

namespace plimo {

namespace {

constexpr size_t kScalarSize = 32;
// A P-256 key in PEM is a few hundred bytes; anything far larger is not one.
constexpr size_t kMaxPemSize = 64 * 1024;

struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct SigFree {
  void operator()(ECDSA_SIG* sig) const { ECDSA_SIG_free(sig); }
};
using Bio = std::unique_ptr<BIO, BioFree>;
using Sig = std::unique_ptr<ECDSA_SIG, SigFree>;

// The DER form OpenSSL verifies, from the raw r ‖ s wire form; empty when r
// or s does not fit.
Bytes derSignature(ByteView raw) {
  Sig sig(ECDSA_SIG_new());
  BIGNUM* r = BN_bin2bn(raw.data(), int(kScalarSize), nullptr);
  BIGNUM* s = BN_bin2bn(raw.data() + kScalarSize, int(kScalarSize), nullptr);
  if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    return {};
  }
  int length = i2d_ECDSA_SIG(sig.get(), nullptr);
  if (length <= 0) return {};
  Bytes der(size_t(length), 0);
  uint8_t* out = der.data();
  if (i2d_ECDSA_SIG(sig.get(), &out) != length) return {};
  return der;
}

}  // namespace

bool verifyEcdsa(ByteView publicKey, ByteView data, ByteView signature) {
  if (publicKey.size() != PlimoCrypto::kPublicKeySize ||
      signature.size() != PlimoCrypto::kSignatureSize) {
    return false;
  }
  evp::Pkey key = evp::publicKeyFromRaw(publicKey);
  if (!key) return false;
  Bytes der = derSignature(signature);
  if (der.empty()) return false;
  evp::MdCtx ctx(EVP_MD_CTX_new());
  return ctx &&
         EVP_DigestVerifyInit_ex(ctx.get(), nullptr, "SHA256", nullptr, nullptr, key.get(),
                                 nullptr) == 1 &&
         EVP_DigestVerify(ctx.get(), der.data(), der.size(), data.data(), data.size()) == 1;
}

SigningKey::SigningKey(std::shared_ptr<evp_pkey_st> key)
    : key_(std::move(key)), publicKey_(evp::rawPublicKey(key_.get())) {}

SigningKey SigningKey::generate() { return SigningKey(evp::generateP256()); }

std::optional<SigningKey> SigningKey::fromPem(std::string_view pem) {
  if (pem.size() > kMaxPemSize) return std::nullopt;
  Bio bio(BIO_new_mem_buf(pem.data(), int(pem.size())));
  if (!bio) return std::nullopt;
  // An empty passphrase callback: an encrypted key fails instead of prompting
  // on the terminal.
  auto noPassphrase = [](char*, int, int, void*) { return 0; };
  evp::Pkey key = evp::wrap(PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassphrase, nullptr));
  if (!key || !evp::isP256(key.get())) return std::nullopt;
  return SigningKey(std::move(key));
}

std::optional<SigningKey> SigningKey::loadPemFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return fromPem(text.str());
}

std::string SigningKey::toPem() const {
  Bio bio(BIO_new(BIO_s_mem()));
  if (!bio ||
      PEM_write_bio_PrivateKey(bio.get(), key_.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    evp::fatal("could not write a key as PEM");
  }
  char* data = nullptr;
  long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, size_t(length));
}

bool SigningKey::savePemFile(const std::string& path) const {
  std::string pem = toPem();
  std::string temp = path + ".tmp";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  // A temporary file left by a crash keeps its old mode through O_TRUNC.
  bool ok = ::fchmod(fd, 0600) == 0;
  size_t written = 0;
  while (written < pem.size()) {
    ssize_t n = ::write(fd, pem.data() + written, pem.size() - written);
    if (n <= 0) break;
    written += size_t(n);
  }
  ok = ok && written == pem.size() && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = std::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

Bytes SigningKey::sign(ByteView data) const {
  evp::MdCtx ctx(EVP_MD_CTX_new());
  size_t length = 0;
  if (!ctx ||
      EVP_DigestSignInit_ex(ctx.get(), nullptr, "SHA256", nullptr, nullptr, key_.get(), nullptr) !=
          1 ||
      EVP_DigestSign(ctx.get(), nullptr, &length, data.data(), data.size()) != 1) {
    evp::fatal("ECDSA signing failed");
  }
  Bytes der(length);
  if (EVP_DigestSign(ctx.get(), der.data(), &length, data.data(), data.size()) != 1) {
    evp::fatal("ECDSA signing failed");
  }
  const uint8_t* in = der.data();
  Sig sig(d2i_ECDSA_SIG(nullptr, &in, long(length)));
  if (!sig) evp::fatal("ECDSA signing gave an unreadable signature");
  Bytes raw(PlimoCrypto::kSignatureSize);
  if (BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), raw.data(), int(kScalarSize)) != int(kScalarSize) ||
      BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), raw.data() + kScalarSize, int(kScalarSize)) !=
          int(kScalarSize)) {
    evp::fatal("ECDSA signing gave an oversized signature");
  }
  return raw;
}

}  // namespace plimo
