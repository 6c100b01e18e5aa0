#pragma once
// The server's key and the handshake that makes a secure server session,
// inside the ServerSession (threads and lifetime as there): the pinned key
// (from Plimo.ini, or the first one the server shows), the pending
// handshake's fresh key and random, and the check of the server's welcome.

#include <memory>
#include <optional>
#include <string_view>

#include "protocol/crypto/EcdhKey.h"
#include "protocol/link/PlimoClient.h"
#include "protocol/wire/SecureChannel.h"

namespace plimo {

class PlimoClient::ServerHandshake {
 public:
  struct Welcome {
    std::shared_ptr<SecureChannel> channel;  // the session, when accepted
    bool pinnedNow = false;  // the server's key was pinned with it
    bool refused = false;  // the server showed another key: blocked() from now on
  };

  // `keyHex`: the pinned key as 128 hex digits; any other text leaves the key
  // to be pinned on first use.
  ServerHandshake(PlimoClient& link, std::string_view keyHex);

  // A handshake packet with a new key and random every time: a late welcome
  // to an older handshake then fails its signature check.
  Bytes packet();
  // A welcome to the pending handshake; anything else is ignored (an empty
  // Welcome).
  Welcome accept(ByteView data);

  const std::optional<Bytes>& key() const { return key_; }  // the pinned long-term key (64 bytes)
  bool blocked() const { return blocked_; }

 private:
  friend class testkit::PlimoClientTestKit;

  PlimoClient& link_;
  std::optional<Bytes> key_;
  bool blocked_ = false;
  std::optional<EcdhKey> ecdh_;  // the pending handshake's key
  Bytes random_;
};

}  // namespace plimo
