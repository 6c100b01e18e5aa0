#pragma once
// The relayed packets of partners introduced across two servers of a fleet:
// each partner relays through its own server, and the two servers pass the
// packets between them over UDP, on a socket of their own (the fleet port).
//
// Each server makes a fresh P-256 relay key when it starts and announces it
// in the store's directory beside its heartbeat, with its fleet socket's
// address and the fleet key's signature over both. The shared fleet key
// cannot serve itself: every server holds the same one, so an agreement on
// it would give one secret to all of them and to anyone who took the key
// file, and a packet could not tell which server sealed it; a key per run
// also leaves nothing of an earlier run's traffic to open. The signature
// means that a directory entry only a holder of the fleet key made counts.
//
// Two servers agree on a pair key (ECDH of their relay keys, through HKDF)
// and seal each packet as a SecureChannel does: the sealing side's
// direction label and its own counter in every nonce, so no nonce repeats,
// and a replay window on the opening side. A datagram from a key no live
// server announced, one that does not open (a wrong key, a replay, garbage),
// one that is no FleetPacket and one for no session of this server is
// dropped, counted, and logged within its source address's budget.
//
// One thread (the server loop). Owned by the RelayServer.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/Bytes.h"
#include "protocol/crypto/EcdhKey.h"
#include "protocol/crypto/SigningKey.h"
#include "server/Endpoint.h"
#include "server/FleetPacket.h"
#include "server/HandlerContext.h"
#include "server/PacketSink.h"

namespace plimo {

class FleetRelay {
 public:
  // The directory is read again at most this often for a packet to or from
  // a server this one does not know yet (a server just started).
  static constexpr double kLookupEvery = 1.0;

  struct Stats {
    uint64_t sent = 0;
    uint64_t received = 0;  // handed on to a session
    uint64_t dropped = 0;
  };

  // A packet that opened and parsed, from the live server `server`; false:
  // it is for no session of this server.
  using Deliver = std::function<bool(const std::string& server, const FleetPacket& packet)>;

  FleetRelay(HandlerContext& server, const SigningKey& fleetKey, std::string self, Deliver deliver);

  // Relays through `sink`, from the socket at `address` ("ip:port").
  void open(PacketSink& sink, const std::string& address);
  bool opened() const { return sink_ != nullptr; }
  // What the directory holds for this server: its relay key and the fleet
  // key's signature over it, in hexadecimal.
  const std::string& announcedKey() const { return announced_; }
  const std::string& address() const { return address_; }

  // Reads the live servers from the directory; the names of those that were
  // known and are no longer there or live with another key (their sessions
  // ended with them).
  std::vector<std::string> refresh();
  // Whether `server` was live at the last reading of the directory that
  // could be read (every one before the first): a server this one never
  // relayed with that stopped or died is gone all the same.
  bool live(const std::string& server) const { return !read_ || live_.count(server) != 0; }
  // A partner on `server` was just introduced: its key is read now (once in
  // kLookupEvery at most) rather than at its first packet, which may be its
  // goodbye, sent as it leaves the directory.
  void know(const std::string& server);
  // False when `server` is not a live one of the fleet.
  bool send(const std::string& server, const FleetPacket& packet);
  void received(const Endpoint& from, ByteView datagram);

  const Stats& stats() const { return stats_; }

  // The bytes the fleet key signs for one server's announcement.
  static Bytes announcement(const std::string& server, const std::string& address, ByteView relayKey);

 private:
  struct Peer {
    std::string announced;  // the directory's text, to see a change
    Endpoint address;
    uint64_t sender = 0;
    std::shared_ptr<SecureChannel> channel;
  };

  void update();
  void drop(const Endpoint& from, const std::string& why);
  // The directory again, unless it was read within kLookupEvery.
  void lookUp();
  std::shared_ptr<SecureChannel> pairChannel(ByteView peerKey) const;

  HandlerContext& server_;
  const std::string self_;
  Deliver deliver_;
  // Signs this server's announcement and checks the others'.
  SigningKey signer_;
  EcdhKey key_;
  uint64_t sender_;
  std::string announced_;
  std::string address_;
  PacketSink* sink_ = nullptr;
  std::unordered_map<std::string, Peer> peers_;     // by server name
  std::unordered_map<uint64_t, std::string> senders_;  // server names by sender
  // Announcements refused, by server name: each is logged once.
  std::unordered_map<std::string, std::string> rejected_;
  std::vector<std::string> lost_;  // since the last refresh
  std::unordered_set<std::string> live_;
  bool read_ = false;
  double lastLookup_ = -1e9;
  Stats stats_;
};

}  // namespace plimo
