#pragma once
// The packets between a client and the server, over UDP or inside a TCP frame.
// The first byte names the type. Both the client (PlimoClient) and
// plimo-server build and check them with these numbers only.

#include <cstddef>
#include <cstdint>

#include "core/Bytes.h"
#include "protocol/crypto/PlimoCrypto.h"

namespace plimo::ServerPacket {

inline constexpr uint8_t kHandshake = 0x10;  // client: a fresh key and random
inline constexpr uint8_t kWelcome = 0x11;    // server: its keys, signed over the handshake
inline constexpr uint8_t kSealed = 0x12;     // one text line under the session's keys
inline constexpr uint8_t kReset = 0x13;      // server: no session for this sender; handshake again
inline constexpr uint8_t kRelayed = 0x14;    // a sealed partner packet the server passes on
inline constexpr uint8_t kVersion = 1;       // the second byte of a handshake and a welcome

// Handshake: type, version, the client's ephemeral key, its random.
inline constexpr size_t kHandshakeKey = 2;
inline constexpr size_t kRandomSize = 16;
inline constexpr size_t kHandshakeRandom = kHandshakeKey + PlimoCrypto::kPublicKeySize;
inline constexpr size_t kHandshakeSize = kHandshakeRandom + kRandomSize;

// Welcome: type, version, the server's ephemeral key, its long-term key, the
// signature over the transcript.
inline constexpr size_t kWelcomeEph = 2;
inline constexpr size_t kWelcomeKey = kWelcomeEph + PlimoCrypto::kPublicKeySize;
inline constexpr size_t kWelcomeSignature = kWelcomeKey + PlimoCrypto::kPublicKeySize;
inline constexpr size_t kWelcomeSize = kWelcomeSignature + PlimoCrypto::kSignatureSize;

static_assert(kHandshakeSize == 82 && kWelcomeSize == 194);

// A client's handshake with its ephemeral public key and random.
inline Bytes handshake(ByteView publicKey, ByteView random) {
  Bytes packet{kHandshake, kVersion};
  packet.reserve(kHandshakeSize);
  append(packet, publicKey);
  append(packet, random);
  return packet;
}

}  // namespace plimo::ServerPacket
