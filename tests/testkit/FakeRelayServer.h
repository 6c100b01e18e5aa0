#pragma once
// The server's end of the secure server session, for tests that play the
// server: a long-term signing key, signed welcomes, and a SecureChannel that
// opens the client's lines and seals the server's.

#include <memory>
#include <optional>
#include <string>

#include "protocol/crypto/EcdhKey.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/crypto/SigningKey.h"
#include "protocol/wire/SecureChannel.h"

namespace plimo::testkit {

class FakeRelayServer {
 public:
  SigningKey longTerm = SigningKey::generate();
  std::shared_ptr<SecureChannel> channel;  // the session of the last welcome

  static bool isHandshake(ByteView packet) {
    return packet.size() == 82 && packet[0] == 0x10 && packet[1] == 0x01;
  }

  // The signed welcome answering `handshake` (which must be one). Opens a new
  // session unless `keepSession`. `signer` signs in place of the long-term
  // key (to fake a server with another identity).
  Bytes welcome(ByteView handshake, const SigningKey* signer = nullptr) {
    const SigningKey& key = signer ? *signer : longTerm;
    ByteView clientEph = handshake.subspan(2, 64);
    ByteView clientRandom = handshake.subspan(66, 16);
    EcdhKey eph;
    Bytes transcript =
        PlimoCrypto::relayTranscript(clientEph, clientRandom, eph.publicKey(), key.publicKey());
    Bytes packet{0x11, 0x01};
    append(packet, eph.publicKey());
    append(packet, key.publicKey());
    append(packet, key.sign(transcript));
    channel = SecureChannel::serverToClient(
        PlimoCrypto::deriveRelayKeys(eph.sharedSecret(clientEph), clientRandom));
    return packet;
  }

  Bytes seal(const std::string& line) { return channel->seal(toBytes(line)); }

  // The client's line in `packet`, or nothing when it is not a sealed line
  // of the current session.
  std::optional<std::string> open(ByteView packet) {
    if (!channel || packet.empty() || packet[0] != 0x12) return std::nullopt;
    auto plain = channel->open(packet);
    if (!plain) return std::nullopt;
    return toString(*plain);
  }
};

}  // namespace plimo::testkit
