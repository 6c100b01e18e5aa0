// The secure server session: handshake, welcome, key pinning, sealed lines.
#include <algorithm>

#include "core/Failure.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/crypto/SigningKey.h"
#include "protocol/link/ServerSession.h"
#include "protocol/net/Net.h"
#include "protocol/wire/ServerPackets.h"

namespace plimo {

void PlimoClient::ServerSession::sendRelayHandshake() {
  // A new key and random every time: a late welcome to an older handshake
  // then fails its signature check.
  relayEcdh_ = EcdhKey();
  relayRandom_ = PlimoCrypto::randomBytes(ServerPacket::kRandomSize);
  lastHandshake_ = loop_.now();
  sendRaw(ServerPacket::handshake(relayEcdh_->publicKey(), relayRandom_), relayAddress());
}

void PlimoClient::ServerSession::handlePacket(ByteView data) {
  switch (data[0]) {
    case ServerPacket::kReset:
      if (relay_) dropRelay("The server asked for a new secure session");
      return;
    case ServerPacket::kSealed: {
      if (!relay_) return;
      auto plain = relay_->open(data);
      // A packet that does not open is not a sign of the server.
      if (!plain) return;
      lastRelayRx_ = loop_.now();
      handleRelayText(std::string(trimWhitespace(utf8Lossy(toString(*plain)))));
      return;
    }
    case ServerPacket::kWelcome:
      return handleWelcome(data);
    default:
      return;
  }
}

void PlimoClient::ServerSession::handleWelcome(ByteView data) {
  if (relay_ || !relayEcdh_) return;
  if (data.size() != ServerPacket::kWelcomeSize || data[1] != ServerPacket::kVersion) return;
  ByteView relayEph = data.subspan(ServerPacket::kWelcomeEph, PlimoCrypto::kPublicKeySize);
  ByteView longTerm = data.subspan(ServerPacket::kWelcomeKey, PlimoCrypto::kPublicKeySize);
  ByteView signature = data.subspan(ServerPacket::kWelcomeSignature, PlimoCrypto::kSignatureSize);

  // The signature first: it covers this handshake's fresh key and random, so
  // only a server that saw our handshake can make one. Checking the pinned
  // key before it would let anyone who can forge the server's source address
  // freeze the link with one unsigned packet.
  Bytes transcript =
      PlimoCrypto::relayTranscript(relayEcdh_->publicKey(), relayRandom_, relayEph, longTerm);
  if (!verifyEcdsa(longTerm, transcript, signature)) return;

  if (relayKey_ && !std::equal(relayKey_->begin(), relayKey_->end(), longTerm.begin(), longTerm.end())) {
    relayBlocked_ = true;
    relayEcdh_.reset();
    link_.log("SECURITY: the server identified itself with key " + PlimoCrypto::keyFingerprint(longTerm) +
              ", but Plimo.ini expects " + PlimoCrypto::keyFingerprint(*relayKey_) +
              ". Not connecting. If the server was reinstalled, put its new key in Plimo.ini.");
    auto keep = link_.shared_from_this();
    status("Server key mismatch");
    test_.finish(false, "Server key does not match Plimo.ini");
    return;
  }

  Bytes secret;
  try {
    secret = relayEcdh_->sharedSecret(relayEph);
  } catch (const Failure&) {
    link_.log("Bad handshake from the server");
    return;
  }
  bool pinnedNow = false;
  if (!relayKey_) {
    relayKey_ = Bytes(longTerm.begin(), longTerm.end());
    pinnedNow = true;
  }
  relay_ = SecureChannel::clientToServer(PlimoCrypto::deriveRelayKeys(secret, relayRandom_));
  relayEcdh_.reset();
  lastRelayRx_ = loop_.now();
  transport_.welcomed();

  auto keep = link_.shared_from_this();  // an event below may drop the owner's last reference
  std::string fingerprint = PlimoCrypto::keyFingerprint(*relayKey_);
  link_.log("Secure connection to the server (AES-256-GCM) over " + transport_.text() + ", server key " + fingerprint);
  if (pinnedNow) {
    link_.log("Server key pinned. Compare " + fingerprint + " with the key shown on the server.");
    link_.tell(&LinkEvents::onRelayKeyPinned, PlimoCrypto::hex(*relayKey_));
  }
  status("Secure connection to server");
  if (!link_.socket_) return;  // the owner stopped the link from an event
  sendHello();
  if (link_.state() == State::connected) {
    sendLine("SESSION START " + link_.partnerID() + " " + (link_.initiator() ? "V" : "H") + " 0");
  }
  if (test_.running()) sendLine(test_.ping());
}

void PlimoClient::ServerSession::sendLine(const std::string& text) {
  if (!relay_) return;
  sendRaw(relay_->seal(toBytes(text)), relayAddress());
}

}  // namespace plimo
