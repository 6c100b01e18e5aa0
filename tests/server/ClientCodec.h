#pragma once
// The client's half of the server protocol, bytes in and bytes out, for
// tests and benches that speak to plimo-server without the whole PlimoClient:
// handshake, welcome check, sealed lines.

#include <optional>
#include <string>
#include <string_view>

#include "core/Bytes.h"
#include "protocol/crypto/EcdhKey.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/crypto/SigningKey.h"
#include "protocol/wire/SecureChannel.h"

namespace plimo::testkit {

class ClientCodec {
 public:
  // A fresh handshake packet (new ephemeral key and random each time).
  Bytes handshake() {
    ephemeral_ = EcdhKey();
    random_ = PlimoCrypto::randomBytes(16);
    Bytes packet{0x10, 0x01};
    append(packet, ephemeral_->publicKey());
    append(packet, random_);
    return packet;
  }

  // Checks a welcome against the last handshake; on success the sealed
  // session is up and `serverKey` holds the server's long-term key.
  bool welcome(ByteView packet) {
    if (!ephemeral_ || packet.size() != 194 || packet[0] != 0x11 || packet[1] != 1) return false;
    ByteView relayEph = packet.subspan(2, 64);
    ByteView relayKey = packet.subspan(66, 64);
    Bytes transcript = PlimoCrypto::relayTranscript(ephemeral_->publicKey(), random_, relayEph, relayKey);
    if (!verifyEcdsa(relayKey, transcript, packet.subspan(130, 64))) return false;
    Bytes secret;
    try {
      secret = ephemeral_->sharedSecret(relayEph);
    } catch (...) {
      return false;
    }
    channel = SecureChannel::clientToServer(PlimoCrypto::deriveRelayKeys(secret, random_));
    serverKey = Bytes(relayKey.begin(), relayKey.end());
    ephemeral_.reset();
    return true;
  }

  Bytes seal(std::string_view line) {
    return channel->seal(ByteView(reinterpret_cast<const uint8_t*>(line.data()), line.size()));
  }

  // The line of a sealed server packet, or nothing.
  std::optional<std::string> open(ByteView packet) {
    if (!channel || packet.empty() || packet[0] != 0x12) return std::nullopt;
    auto plain = channel->open(packet);
    if (!plain) return std::nullopt;
    return toString(*plain);
  }

  std::shared_ptr<SecureChannel> channel;
  Bytes serverKey;

 private:
  std::optional<EcdhKey> ephemeral_;
  Bytes random_;
};

}  // namespace plimo::testkit
