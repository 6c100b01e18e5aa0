#include "protocol/wire/SecureChannel.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <climits>

#include "core/Failure.h"
#include "protocol/crypto/PlimoCryptoEvp.h"

namespace plimo {

namespace {

constexpr size_t kNonceSize = 12;

// Fetched once: an implicit fetch on every packet would cost a lookup in
// OpenSSL's provider tables.
const EVP_CIPHER* aes256gcm() {
  static EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "AES-256-GCM", nullptr);
  if (!cipher) evp::fatal("OpenSSL has no AES-256-GCM");
  return cipher;
}

void nonceFor(uint8_t* nonce, uint32_t label, uint64_t counter) {
  writeLE(nonce, label);
  writeLE(nonce + 4, counter);
}

}  // namespace

// One per thread, for channels keyed per packet.
static EVP_CIPHER_CTX* scratchContext() {
  thread_local std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> ctx(EVP_CIPHER_CTX_new(),
                                                                            EVP_CIPHER_CTX_free);
  if (!ctx) evp::fatal("could not set up AES-256-GCM");
  return ctx.get();
}

SecureChannel::SecureChannel(uint8_t type, ByteView sendKey, ByteView recvKey, uint32_t sendLabel,
                             uint32_t recvLabel, bool keyPerPacket)
    : type_(type),
      sendLabel_(sendLabel),
      recvLabel_(recvLabel),
      keyPerPacket_(keyPerPacket),
      opener_(nullptr, EVP_CIPHER_CTX_free),
      sealer_(nullptr, EVP_CIPHER_CTX_free) {
  if (sendKey.size() != PlimoCrypto::kKeySize || recvKey.size() != PlimoCrypto::kKeySize) {
    throw Failure(Failure::Kind::badKey, "bad channel key length");
  }
  if (keyPerPacket_) {
    std::copy(sendKey.begin(), sendKey.end(), sendKey_.begin());
    std::copy(recvKey.begin(), recvKey.end(), recvKey_.begin());
    return;
  }
  opener_.reset(EVP_CIPHER_CTX_new());
  sealer_.reset(EVP_CIPHER_CTX_new());
  if (!opener_ || !sealer_ ||
      EVP_EncryptInit_ex2(sealer_.get(), aes256gcm(), sendKey.data(), nullptr, nullptr) != 1 ||
      EVP_DecryptInit_ex2(opener_.get(), aes256gcm(), recvKey.data(), nullptr, nullptr) != 1) {
    evp::fatal("could not set up AES-256-GCM");
  }
}

SecureChannel::~SecureChannel() {
  OPENSSL_cleanse(sendKey_.data(), sendKey_.size());
  OPENSSL_cleanse(recvKey_.data(), recvKey_.size());
}

EVP_CIPHER_CTX* SecureChannel::sealing(const uint8_t* nonce) {
  EVP_CIPHER_CTX* ctx = keyPerPacket_ ? scratchContext() : sealer_.get();
  int ok = keyPerPacket_ ? EVP_EncryptInit_ex2(ctx, aes256gcm(), sendKey_.data(), nonce, nullptr)
                         : EVP_EncryptInit_ex2(ctx, nullptr, nullptr, nonce, nullptr);
  return ok == 1 ? ctx : nullptr;
}

EVP_CIPHER_CTX* SecureChannel::opening(const uint8_t* nonce) {
  EVP_CIPHER_CTX* ctx = keyPerPacket_ ? scratchContext() : opener_.get();
  int ok = keyPerPacket_ ? EVP_DecryptInit_ex2(ctx, aes256gcm(), recvKey_.data(), nonce, nullptr)
                         : EVP_DecryptInit_ex2(ctx, nullptr, nullptr, nonce, nullptr);
  return ok == 1 ? ctx : nullptr;
}

std::shared_ptr<SecureChannel> SecureChannel::clientToServer(const PlimoCrypto::RelayKeys& keys) {
  return std::make_shared<SecureChannel>(kServerType, keys.c2s, keys.s2c,
                                         PlimoCrypto::kLabelClientToServer,
                                         PlimoCrypto::kLabelServerToClient);
}

std::shared_ptr<SecureChannel> SecureChannel::serverToClient(const PlimoCrypto::RelayKeys& keys) {
  return std::make_shared<SecureChannel>(kServerType, keys.s2c, keys.c2s,
                                         PlimoCrypto::kLabelServerToClient,
                                         PlimoCrypto::kLabelClientToServer, true);
}

std::shared_ptr<SecureChannel> SecureChannel::toPartner(const PlimoCrypto::PeerKeys& keys) {
  return std::make_shared<SecureChannel>(kPeerType, keys.send, keys.recv, keys.sendLabel,
                                         keys.recvLabel);
}

Bytes SecureChannel::seal(ByteView plaintext) {
  if (plaintext.size() > size_t(INT_MAX) - kOverhead) evp::fatal("plaintext too large to seal");
  uint64_t counter;
  {
    std::lock_guard guard(lock_);
    if (sendCounter_ == UINT64_MAX) evp::fatal("packet counter exhausted");
    counter = ++sendCounter_;
  }

  Bytes packet(plaintext.size() + kOverhead);
  packet[0] = type_;
  writeLE(packet.data() + 1, counter);
  uint8_t nonce[kNonceSize];
  nonceFor(nonce, sendLabel_, counter);

  std::lock_guard guard(sealLock_);
  EVP_CIPHER_CTX* ctx = sealing(nonce);
  int length = 0;
  uint8_t* body = packet.data() + kHeaderSize;
  if (!ctx || EVP_EncryptUpdate(ctx, nullptr, &length, packet.data(), int(kHeaderSize)) != 1 ||
      EVP_EncryptUpdate(ctx, body, &length, plaintext.data(), int(plaintext.size())) != 1 ||
      EVP_EncryptFinal_ex(ctx, body + length, &length) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_GET_TAG, int(kTagSize),
                          packet.data() + packet.size() - kTagSize) != 1) {
    evp::fatal("AES-256-GCM sealing failed");
  }
  return packet;
}

std::optional<Bytes> SecureChannel::open(ByteView packet) {
  if (packet.size() < kOverhead + 1 || packet.size() > size_t(INT_MAX)) return std::nullopt;
  if (packet[0] != type_) return std::nullopt;
  uint64_t counter = readLE64(packet, 1);

  std::lock_guard guard(lock_);
  if (!window_.isFresh(counter)) return std::nullopt;

  uint8_t nonce[kNonceSize];
  nonceFor(nonce, recvLabel_, counter);
  size_t bodySize = packet.size() - kOverhead;
  Bytes plaintext(bodySize);
  // The library keeps the tag argument const in practice; the API is not.
  auto* tag = const_cast<uint8_t*>(packet.data() + packet.size() - kTagSize);
  EVP_CIPHER_CTX* ctx = opening(nonce);
  int length = 0;
  int tail = 0;
  if (!ctx || EVP_DecryptUpdate(ctx, nullptr, &length, packet.data(), int(kHeaderSize)) != 1 ||
      EVP_DecryptUpdate(ctx, plaintext.data(), &length, packet.data() + kHeaderSize,
                        int(bodySize)) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_SET_TAG, int(kTagSize), tag) != 1 ||
      EVP_DecryptFinal_ex(ctx, plaintext.data() + length, &tail) != 1) {
    return std::nullopt;
  }
  window_.mark(counter);
  return plaintext;
}

}  // namespace plimo
