// The secure server session: handshake, welcome, key pinning, sealed lines.
#include <algorithm>

#include "core/Failure.h"
#include "protocol/Net.h"
#include "protocol/PlimoClient.h"
#include "protocol/PlimoCrypto.h"
#include "protocol/ServerPackets.h"
#include "protocol/SigningKey.h"

namespace plimo {

void PlimoClient::sendRelayHandshake() {
  // A new key and random every time: a late welcome to an older handshake
  // then fails its signature check.
  relayEcdh = EcdhKey();
  relayRandom = PlimoCrypto::randomBytes(ServerPacket::kRandomSize);
  lastHandshake = loop_.now();
  Bytes packet{ServerPacket::kHandshake, ServerPacket::kVersion};
  packet.reserve(ServerPacket::kHandshakeSize);
  append(packet, relayEcdh->publicKey());
  append(packet, relayRandom);
  sendRaw(packet, relayAddress());
}

void PlimoClient::handleRelayPacket(ByteView data) {
  switch (data[0]) {
    case ServerPacket::kReset:
      if (relay) dropRelay("The server asked for a new secure session");
      return;
    case ServerPacket::kSealed: {
      if (!relay) return;
      auto plain = relay->open(data);
      // A packet that does not open is not a sign of the server.
      if (!plain) return;
      lastRelayRx = loop_.now();
      handleRelayText(std::string(trimWhitespace(utf8Lossy(toString(*plain)))));
      return;
    }
    case ServerPacket::kWelcome:
      return handleWelcome(data);
    default:
      return;
  }
}

void PlimoClient::handleWelcome(ByteView data) {
  if (relay || !relayEcdh) return;
  if (data.size() != ServerPacket::kWelcomeSize || data[1] != ServerPacket::kVersion) return;
  ByteView relayEph = data.subspan(ServerPacket::kWelcomeEph, PlimoCrypto::kPublicKeySize);
  ByteView longTerm = data.subspan(ServerPacket::kWelcomeKey, PlimoCrypto::kPublicKeySize);
  ByteView signature = data.subspan(ServerPacket::kWelcomeSignature, PlimoCrypto::kSignatureSize);

  // The signature first: it covers this handshake's fresh key and random, so
  // only a server that saw our handshake can make one. Checking the pinned
  // key before it would let anyone who can forge the server's source address
  // freeze the link with one unsigned packet.
  Bytes transcript =
      PlimoCrypto::relayTranscript(relayEcdh->publicKey(), relayRandom, relayEph, longTerm);
  if (!verifyEcdsa(longTerm, transcript, signature)) return;

  if (relayKey && !std::equal(relayKey->begin(), relayKey->end(), longTerm.begin(), longTerm.end())) {
    relayBlocked = true;
    relayEcdh.reset();
    log("SECURITY: the server identified itself with key " + PlimoCrypto::keyFingerprint(longTerm) +
        ", but Plimo.ini expects " + PlimoCrypto::keyFingerprint(*relayKey) +
        ". Not connecting. If the server was reinstalled, put its new key in Plimo.ini.");
    auto keep = shared_from_this();
    status("Server key mismatch");
    finishTest(false, "Server key does not match Plimo.ini");
    return;
  }

  Bytes secret;
  try {
    secret = relayEcdh->sharedSecret(relayEph);
  } catch (const Failure&) {
    log("Bad handshake from the server");
    return;
  }
  bool pinnedNow = false;
  if (!relayKey) {
    relayKey = Bytes(longTerm.begin(), longTerm.end());
    pinnedNow = true;
  }
  relay = SecureChannel::clientToServer(PlimoCrypto::deriveRelayKeys(secret, relayRandom));
  relayEcdh.reset();
  lastRelayRx = loop_.now();
  udpTries = 0;
  tcpTries = 0;

  auto keep = shared_from_this();  // a callback below may drop the owner's last reference
  std::string fingerprint = PlimoCrypto::keyFingerprint(*relayKey);
  log("Secure connection to the server (AES-256-GCM) over " + transport() + ", server key " + fingerprint);
  if (pinnedNow) {
    log("Server key pinned. Compare " + fingerprint + " with the key shown on the server.");
    if (onRelayKeyPinned) onRelayKeyPinned(PlimoCrypto::hex(*relayKey));
  }
  status("Secure connection to server");
  if (!socket) return;  // the owner stopped the link from a callback
  sendHello();
  if (state == State::connected) {
    sendRelay("SESSION START " + partnerID + " " + (initiator ? "V" : "H") + " 0");
  }
  if (!testToken.empty()) sendRelay("PING " + testToken);
}

void PlimoClient::sendRelay(const std::string& text) {
  if (!relay) return;
  sendRaw(relay->seal(toBytes(text)), relayAddress());
}

}  // namespace plimo
