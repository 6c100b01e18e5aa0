#pragma once
// Sealed packets: AES-256-GCM with a per-direction key and label, a 64-bit
// counter in the nonce and a 64-packet anti-replay window.

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "core/Bytes.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/wire/ReplayWindow.h"
#include "protocol/wire/ServerPackets.h"

struct evp_cipher_ctx_st;

namespace plimo {

// Packet layout (integers little-endian):
//   [0]      type byte of the channel
//   [1..8]   packet counter, 1 for the first packet
//   [9..]    ciphertext, as long as the plaintext
//   [last16] GCM tag
// The 9-byte header is the associated data; the nonce is the direction label
// (4 bytes LE) followed by the counter (8 bytes LE).
//
// One channel per secured link, shared by reference (std::shared_ptr) between
// the link and the sessions sending through it. seal and open may be called
// from any thread. The channel is built complete and never rekeyed.
class SecureChannel {
 public:
  static constexpr uint8_t kServerType = ServerPacket::kSealed;  // client <-> server
  static constexpr uint8_t kPeerType = 0xC0;    // partner <-> partner
  static constexpr size_t kHeaderSize = 9;
  static constexpr size_t kTagSize = 16;
  static constexpr size_t kOverhead = kHeaderSize + kTagSize;

  // Throws Failure::Kind::badKey when either key is not 32 bytes.
  // `keyPerPacket`: hold only the keys and key a scratch context of the
  // calling thread for each packet, instead of two keyed contexts (about a
  // kilobyte each). For the server, which holds a channel per registered
  // client and opens a few lines a minute on each.
  SecureChannel(uint8_t type, ByteView sendKey, ByteView recvKey, uint32_t sendLabel,
                uint32_t recvLabel, bool keyPerPacket = false);
  ~SecureChannel();
  SecureChannel(const SecureChannel&) = delete;
  SecureChannel& operator=(const SecureChannel&) = delete;

  // The client's end of a server session: seals with c2s, opens s2c.
  static std::shared_ptr<SecureChannel> clientToServer(const PlimoCrypto::RelayKeys& keys);
  // The server's end of the same session: the mirror image.
  static std::shared_ptr<SecureChannel> serverToClient(const PlimoCrypto::RelayKeys& keys);
  // One end of a partner session.
  static std::shared_ptr<SecureChannel> toPartner(const PlimoCrypto::PeerKeys& keys);

  uint8_t type() const { return type_; }

  // The packet for `plaintext` (its size + 25 bytes). Each call takes the
  // next counter, so two threads never seal with the same one.
  Bytes seal(ByteView plaintext);

  // The plaintext of `packet`, or nothing when it is rejected for any reason:
  // shorter than 26 bytes (so an empty plaintext never opens), another type
  // byte, counter 0, a counter already accepted or older than the window, a
  // failed tag. A rejected packet leaves the window as it was.
  std::optional<Bytes> open(ByteView packet);

 private:
  using CipherCtx = std::unique_ptr<evp_cipher_ctx_st, void (*)(evp_cipher_ctx_st*)>;
  using Key = std::array<uint8_t, PlimoCrypto::kKeySize>;

  // The context to seal or open with, its nonce set (and its key too when
  // keyed per packet).
  evp_cipher_ctx_st* sealing(const uint8_t* nonce);
  evp_cipher_ctx_st* opening(const uint8_t* nonce);

  const uint8_t type_;
  const uint32_t sendLabel_;
  const uint32_t recvLabel_;
  const bool keyPerPacket_;
  Key sendKey_{};  // kept only when keyed per packet
  Key recvKey_{};

  // Guards sendCounter_, window_ and opener_; open holds it through the
  // decryption so one counter is never accepted twice.
  std::mutex lock_;
  uint64_t sendCounter_ = 0;
  ReplayWindow window_;
  CipherCtx opener_;  // keyed with recvKey once; each packet sets only its nonce

  // Guards sealer_ only. seal takes lock_ for the counter, lets it go, then
  // takes sealLock_ to encrypt: never both at once, and sealing never blocks
  // opening.
  std::mutex sealLock_;
  CipherCtx sealer_;  // keyed with sendKey once
};

}  // namespace plimo
