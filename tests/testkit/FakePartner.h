#pragma once
// The far end of a partner session, played by a test: its own key pair, the
// PEER line the server would send about it, and the partner channel to seal
// what it sends and open what the client sends it.

#include <memory>
#include <optional>
#include <string>

#include "protocol/crypto/EcdhKey.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/net/NetAddress.h"
#include "protocol/wire/SecureChannel.h"

namespace plimo::testkit {

class FakePartner {
 public:
  EcdhKey key;
  std::string id = "987654321";
  Address publicAddress{"198.51.100.7", 50000};
  Address lanAddress{"10.0.0.7", 40100};
  std::shared_ptr<SecureChannel> channel;

  // The PEER line introducing this partner to a client whose partner key is
  // `clientKey`, and the channel to that client. `tail` follows the ID:
  // " - U" by default, "" for the seven-word form of older servers.
  std::string peerLine(ByteView clientKey, const std::string& tail = " - U") {
    channel = SecureChannel::toPartner(
        PlimoCrypto::derivePeerKeys(key.sharedSecret(clientKey), key.publicKey(), clientKey));
    return "PEER " + publicAddress.ip + " " + std::to_string(publicAddress.port) + " " + lanAddress.ip + " " +
           std::to_string(lanAddress.port) + " " + PlimoCrypto::hex(key.publicKey()) + " " + id + tail;
  }

  Bytes seal(const std::string& line) { return channel->seal(toBytes(line)); }
  Bytes seal(ByteView data) { return channel->seal(data); }
  // A sealed packet as the server passes it on (0x14 in front).
  Bytes relayed(const std::string& line) {
    Bytes packet{0x14};
    append(packet, seal(line));
    return packet;
  }

  // The plaintext of a packet from the client, direct (0xC0...) or as sent
  // to the server (0x14 0xC0...); nothing when it does not open.
  std::optional<Bytes> open(ByteView packet) {
    if (!channel || packet.empty()) return std::nullopt;
    if (packet[0] == 0x14) packet = packet.subspan(1);
    return channel->open(packet);
  }
  std::optional<std::string> openLine(ByteView packet) {
    auto plain = open(packet);
    if (!plain) return std::nullopt;
    return toString(*plain);
  }
};

}  // namespace plimo::testkit
