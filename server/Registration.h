#pragma once
// The registration commands of a client session: HELLO (→ "ID"), PIN and
// UNPIN (keeping an ID with a secret), PING (→ "PONG"). It owns the IDs
// online and leased, and what each session's HELLO told (its Registrant), by
// session serial.
//
// One thread (the server loop); the database work of PIN and UNPIN runs on
// the store's thread and is answered when it is done. Owned by the
// RelayServer.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/Bytes.h"
#include "server/HandlerContext.h"
#include "server/IdRegistry.h"
#include "server/RateLimiter.h"
#include "server/Registrant.h"

namespace plimo {

class UnattendedGate;

class Registration {
 public:
  // A PIN may take an ID from another session holding it with the same
  // secret (the same PC, restarted) only once that session has been silent
  // this long: longer than the 20-second HELLO period, so a live copy of the
  // same configuration on another PC never trades the ID back and forth.
  static constexpr double kTakeoverSilence = 25.0;
  // A client asks to keep its ID after each ID reply until the server
  // agrees, once per 20-second HELLO at most; a few quick retries are normal
  // (a secret typed in again).
  static constexpr Rate kPinsPerSession{0.1, 5};
  // And per source address, so that new sessions do not reset the count:
  // an office behind one NAT address whose PCs start at once.
  static constexpr Rate kPinsPerAddress{1.0, 60};

  // `udpPort` and `tcpPorts`: what PORTS tells each client once.
  // `serverName`: this server's name in the fleet's directory (empty: it
  // serves alone, and keeps none).
  Registration(HandlerContext& server, UnattendedGate& gate, uint16_t udpPort, std::vector<uint16_t> tcpPorts,
               std::string serverName);

  void hello(const ClientSession& session, const std::vector<std::string>& words);
  void pin(const ClientSession& session, const std::vector<std::string>& words);
  void unpin(const ClientSession& session);
  void ping(const ClientSession& session, const std::vector<std::string>& words);
  // New keys replaced those of the running session: the next HELLO shows
  // whether the same client is still there (it names its ID).
  void rekeyed(const ClientSession& session) { clients_[session.serial].rekeyed = true; }
  // What the session stood for ends: its ID goes offline (logged with `why`).
  void sessionEnded(const ClientSession& session, const std::string& why);
  // The session itself is gone: its budget and what its HELLO told go too
  // (they outlive a client forgotten at its endpoint, so that new keys do
  // not refill the budget).
  void sessionRemoved(uint64_t serial) { clients_.erase(serial); }

  const Registrant& of(const ClientSession& session) const;
  // Takes what HELLO or CONNECT says of the client's LAN address and partner
  // key; a field that does not parse keeps the earlier value.
  void noteLanAndKey(const ClientSession& session, const std::string& ip, const std::string& port,
                     const std::string& keyHex);
  const IdRegistry& ids() const { return ids_; }

  // What the database keeps of a secret.
  static Bytes secretHash(const std::string& secret);
  // "45s", "12m", "3h12m", "2d3h": one word for PONG.
  static std::string uptimeText(double seconds);

 private:
  // One session's registration.
  struct Client {
    Registrant shown;
    bool rekeyed = false;
    bool portsTold = false;  // once per client
    TokenBucket pins;  // PIN attempts: each reads, most write the database
  };
  // Made on first use; only for sessions in the table.
  Client& client(const ClientSession& session) { return clients_[session.serial]; }

  void sayID(const ClientSession& session);
  bool isKept(const std::string& id);
  // Kept, or online on another live server of the fleet: given to nobody here.
  bool isTaken(const std::string& id);
  // The fleet's directory, if any, hears that `id` is online here, or no longer.
  void present(const std::string& id, const ClientSession& session);
  void absent(const std::string& id);
  // Gives `session` the ID `id` (dropping the one it had).
  void assign(const ClientSession& session, const std::string& id);
  // The ID a HELLO naming `wanted` gets: that one when its lease came from
  // the same public address and nobody holds it, else a fresh one. A kept
  // ID comes back only through PIN with its secret.
  std::string idFor(const ClientSession& session, const std::string& wanted);

  // A PIN as it goes to the store's thread: the asker by what finds it
  // again (its serial and the ID it had), never by reference.
  struct PinRequest {
    uint64_t serial = 0;
    std::string ownID;
    std::string id;
    Bytes hash;
    bool heldByLiveSession = false;
    std::string server;  // this server's name: another's presence holds the ID
  };
  struct PinResult {
    enum Outcome { kept, taken, notReady } outcome = notReady;
    std::string error;  // why the database failed, for the log
  };
  // The store's thread: the stored secret checked, and the pin written.
  static PinResult keep(ServerStore& store, const PinRequest& request, int64_t when);
  void pinKept(const PinRequest& request, const PinResult& result);
  // Another session holds `id` and spoke lately (a takeover must wait).
  bool heldByLiveSession(const std::string& id, const ClientSession& asker);

  HandlerContext& server_;
  UnattendedGate& gate_;
  uint16_t udpPort_;
  std::vector<uint16_t> tcpPorts_;
  const std::string serverName_;
  double started_;
  IdRegistry ids_;
  RateLimiter pinsPerAddress_;
  std::unordered_map<uint64_t, Client> clients_;  // by session serial
};

}  // namespace plimo
