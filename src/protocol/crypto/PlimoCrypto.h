#pragma once
// Hashes, key derivations, check numbers and the text forms of keys.
//
// Every function is pure, keeps no state and may be called from any thread.
// Public keys travel as 64 bytes: X then Y, 32 bytes each, big-endian (the
// uncompressed X9.63 point without its leading 0x04).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/Bytes.h"

namespace plimo::PlimoCrypto {

// Sizes of the wire forms.
inline constexpr size_t kPublicKeySize = 64;
inline constexpr size_t kSignatureSize = 64;  // r then s, 32 bytes each, big-endian
inline constexpr size_t kSecretSize = 32;     // raw ECDH result, the X of the shared point
inline constexpr size_t kKeySize = 32;        // AES-256-GCM keys

// Direction labels: each sealed stream has its own, and it goes into every
// nonce, so a nonce never repeats under one key even if keys did.
inline constexpr uint32_t kLabelClientToServer = 1;
inline constexpr uint32_t kLabelServerToClient = 2;
inline constexpr uint32_t kLabelLowToHigh = 3;  // from the partner whose key sorts lower
inline constexpr uint32_t kLabelHighToLow = 4;

// Two upper-case hexadecimal digits per byte, no separators; "" for no bytes.
std::string hex(ByteView data);

// The bytes of a hexadecimal text (either case), or nothing for an odd length
// or any other character. Whitespace is not skipped: callers trim.
std::optional<Bytes> fromHex(std::string_view text);

// The short form a server key is shown under: the first 8 bytes of its
// SHA-256 as four groups of four hex digits ("1A2B 3C4D 5E6F 7081"), or
// "(none)" for no key. `bytes` up to 32 shows more of the digest, up to all
// of it for people who compare whole fingerprints.
std::string keyFingerprint(ByteView key, size_t bytes = 8);

// `count` bytes from OpenSSL's CSPRNG. Aborts if the generator fails: a
// predictable "random" key would be worse than stopping.
Bytes randomBytes(size_t count);

// The bytes the server signs in its welcome:
// "PLIMO-RELAY-HANDSHAKE-V1" ‖ clientEph ‖ clientRandom ‖ relayEph ‖ relayKey,
// with no separators or lengths.
Bytes relayTranscript(ByteView clientEph, ByteView clientRandom, ByteView relayEph,
                      ByteView relayKey);

Bytes sha256(ByteView data);

// 32 bytes. An empty key stands for 32 zero bytes (HMAC's own padding makes
// them equal anyway).
Bytes hmacSha256(ByteView key, ByteView data);

// RFC 5869 with SHA-256; `length` of at most 255 * 32 bytes (more is a
// programming error and aborts). An empty salt equals 32 zero bytes.
Bytes hkdf(ByteView salt, ByteView ikm, ByteView info, size_t length);

struct RelayKeys {
  Bytes c2s;  // client seals with it under kLabelClientToServer
  Bytes s2c;  // server seals with it under kLabelServerToClient
};

// The two server-session keys from the ECDH secret and the client's 16-byte
// handshake random.
RelayKeys deriveRelayKeys(ByteView secret, ByteView clientRandom);

// Unsigned lexicographic order: the first differing byte's difference, else
// the difference of the lengths. Negative when `a` sorts lower.
int compare(ByteView a, ByteView b);

struct PeerKeys {
  Bytes send;
  Bytes recv;
  uint32_t sendLabel = 0;
  uint32_t recvLabel = 0;
};

// The end-to-end keys of a partner session. Both sides get the same two keys,
// crossed: one side's `send` and `sendLabel` are the other's `recv` and
// `recvLabel`. The side whose public key sorts lower sends under
// kLabelLowToHigh. No role (initiator, host) enters.
PeerKeys derivePeerKeys(ByteView secret, ByteView myPublic, ByteView peerPublic);

// The number the two people compare aloud, "042 007", the same whichever key
// is passed first.
std::string checkNumber(ByteView keyA, ByteView keyB);

}  // namespace plimo::PlimoCrypto
