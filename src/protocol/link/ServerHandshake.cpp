#include "protocol/link/ServerHandshake.h"

#include <algorithm>

#include "core/Failure.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/crypto/SigningKey.h"
#include "protocol/net/Net.h"
#include "protocol/wire/ServerPackets.h"

namespace plimo {

PlimoClient::ServerHandshake::ServerHandshake(PlimoClient& link, std::string_view keyHex) : link_(link) {
  auto key = PlimoCrypto::fromHex(trimWhitespace(keyHex));
  if (key && key->size() == PlimoCrypto::kPublicKeySize) key_ = std::move(*key);
}

Bytes PlimoClient::ServerHandshake::packet() {
  ecdh_ = EcdhKey();
  random_ = PlimoCrypto::randomBytes(ServerPacket::kRandomSize);
  return ServerPacket::handshake(ecdh_->publicKey(), random_);
}

PlimoClient::ServerHandshake::Welcome PlimoClient::ServerHandshake::accept(ByteView data) {
  if (!ecdh_) return {};
  if (data.size() != ServerPacket::kWelcomeSize || data[1] != ServerPacket::kVersion) return {};
  ByteView relayEph = data.subspan(ServerPacket::kWelcomeEph, PlimoCrypto::kPublicKeySize);
  ByteView longTerm = data.subspan(ServerPacket::kWelcomeKey, PlimoCrypto::kPublicKeySize);
  ByteView signature = data.subspan(ServerPacket::kWelcomeSignature, PlimoCrypto::kSignatureSize);

  // The signature first: it covers this handshake's fresh key and random, so
  // only a server that saw our handshake can make one. Checking the pinned
  // key before it would let anyone who can forge the server's source address
  // freeze the link with one unsigned packet.
  Bytes transcript = PlimoCrypto::relayTranscript(ecdh_->publicKey(), random_, relayEph, longTerm);
  if (!verifyEcdsa(longTerm, transcript, signature)) return {};

  if (key_ && !std::equal(key_->begin(), key_->end(), longTerm.begin(), longTerm.end())) {
    blocked_ = true;
    ecdh_.reset();
    link_.log("SECURITY: the server identified itself with key " + PlimoCrypto::keyFingerprint(longTerm) +
              ", but Plimo.ini expects " + PlimoCrypto::keyFingerprint(*key_) +
              ". Not connecting. If the server was reinstalled, put its new key in Plimo.ini.");
    Welcome refused;
    refused.refused = true;
    return refused;
  }

  Bytes secret;
  try {
    secret = ecdh_->sharedSecret(relayEph);
  } catch (const Failure&) {
    link_.log("Bad handshake from the server");
    return {};
  }
  Welcome welcome;
  if (!key_) {
    key_ = Bytes(longTerm.begin(), longTerm.end());
    welcome.pinnedNow = true;
  }
  welcome.channel = SecureChannel::clientToServer(PlimoCrypto::deriveRelayKeys(secret, random_));
  ecdh_.reset();
  return welcome;
}

}  // namespace plimo
