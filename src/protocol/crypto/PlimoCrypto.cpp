#include "protocol/crypto/PlimoCrypto.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>

#include "protocol/crypto/PlimoCryptoEvp.h"

namespace plimo::PlimoCrypto {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr size_t kHashSize = 32;
// HKDF's block counter is one byte.
constexpr size_t kHkdfMaxLength = 255 * kHashSize;

int nibble(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

ByteView ascii(std::string_view text) {
  return ByteView(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// The two keys of a pair as (low, high) in `compare` order.
std::pair<ByteView, ByteView> ordered(ByteView a, ByteView b) {
  if (compare(a, b) > 0) return {b, a};
  return {a, b};
}

}  // namespace

std::string hex(ByteView data) {
  std::string text;
  text.reserve(data.size() * 2);
  for (uint8_t b : data) {
    text.push_back(kHexDigits[b >> 4]);
    text.push_back(kHexDigits[b & 0x0F]);
  }
  return text;
}

std::optional<Bytes> fromHex(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  Bytes out;
  out.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    int high = nibble(uint8_t(text[i]));
    int low = nibble(uint8_t(text[i + 1]));
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(uint8_t(high << 4 | low));
  }
  return out;
}

std::string keyFingerprint(ByteView key, size_t bytes) {
  if (key.empty()) return "(none)";
  Bytes digest = sha256(key);
  const std::string digits = hex(ByteView(digest).first(std::min(bytes, digest.size())));
  std::string out;
  for (size_t i = 0; i < digits.size(); i += 4) out += (out.empty() ? "" : " ") + digits.substr(i, 4);
  return out;
}

Bytes randomBytes(size_t count) {
  Bytes out(count);
  if (count > 0 && RAND_bytes(out.data(), int(count)) != 1)
    evp::fatal("the random generator failed");
  return out;
}

Bytes relayTranscript(ByteView clientEph, ByteView clientRandom, ByteView relayEph,
                      ByteView relayKey) {
  Bytes out = toBytes("PLIMO-RELAY-HANDSHAKE-V1");
  append(out, clientEph);
  append(out, clientRandom);
  append(out, relayEph);
  append(out, relayKey);
  return out;
}

Bytes sha256(ByteView data) {
  Bytes out(kHashSize);
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), out.data(), &length, EVP_sha256(), nullptr) != 1) {
    evp::fatal("SHA-256 failed");
  }
  return out;
}

Bytes hmacSha256(ByteView key, ByteView data) {
  static const std::array<uint8_t, kHashSize> zeroKey{};
  if (key.empty()) key = zeroKey;
  Bytes out(kHashSize);
  size_t length = 0;
  if (!EVP_Q_mac(nullptr, "HMAC", nullptr, "SHA256", nullptr, key.data(), key.size(), data.data(),
                 data.size(), out.data(), out.size(), &length) ||
      length != kHashSize) {
    evp::fatal("HMAC-SHA256 failed");
  }
  return out;
}

Bytes hkdf(ByteView salt, ByteView ikm, ByteView info, size_t length) {
  if (length > kHkdfMaxLength) evp::fatal("HKDF asked for more than 255 blocks");
  Bytes prk = hmacSha256(salt, ikm);
  Bytes out;
  Bytes block;
  uint8_t counter = 0;
  while (out.size() < length) {
    ++counter;
    Bytes input = block;
    append(input, info);
    input.push_back(counter);
    block = hmacSha256(prk, input);
    append(out, block);
  }
  out.resize(length);
  return out;
}

RelayKeys deriveRelayKeys(ByteView secret, ByteView clientRandom) {
  return {hkdf(clientRandom, secret, ascii("plimo relay c2s v1"), kKeySize),
          hkdf(clientRandom, secret, ascii("plimo relay s2c v1"), kKeySize)};
}

int compare(ByteView a, ByteView b) {
  size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    if (a[i] != b[i]) return int(a[i]) - int(b[i]);
  }
  // Lengths here are key sizes; the clamp only keeps huge inputs from
  // overflowing the sign.
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -int(std::min<size_t>(b.size() - a.size(), INT32_MAX))
                             : int(std::min<size_t>(a.size() - b.size(), INT32_MAX));
}

PeerKeys derivePeerKeys(ByteView secret, ByteView myPublic, ByteView peerPublic) {
  auto [low, high] = ordered(myPublic, peerPublic);
  Bytes both(low.begin(), low.end());
  append(both, high);
  Bytes salt = sha256(both);
  Bytes lowToHigh = hkdf(salt, secret, ascii("plimo peer low-to-high v1"), kKeySize);
  Bytes highToLow = hkdf(salt, secret, ascii("plimo peer high-to-low v1"), kKeySize);
  bool iAmLow = std::equal(myPublic.begin(), myPublic.end(), low.begin(), low.end());
  if (iAmLow) return {lowToHigh, highToLow, kLabelLowToHigh, kLabelHighToLow};
  return {highToLow, lowToHigh, kLabelHighToLow, kLabelLowToHigh};
}

std::string checkNumber(ByteView keyA, ByteView keyB) {
  auto [low, high] = ordered(keyA, keyB);
  Bytes input = toBytes("plimo check number v1");
  append(input, low);
  append(input, high);
  Bytes digest = sha256(input);
  uint32_t n = readBE<uint32_t>(digest, 0) % 1000000;
  char text[8];
  std::snprintf(text, sizeof text, "%03u %03u", n / 1000, n % 1000);
  return text;
}

}  // namespace plimo::PlimoCrypto
