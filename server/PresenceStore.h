#pragma once
// Which server of a fleet holds which ID online, and which servers are alive:
// the directory that keeps IDs unique across the servers sharing a store. A
// part of ServerStore, which each engine implements.
//
// Written when a registration begins or ends and by each server's heartbeat,
// never per keep-alive. A server whose heartbeat is older than kStaleAfter is
// gone (killed, cut off): its presence counts for nothing.
//
// One thread per connection.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/Result.h"

namespace plimo {

class PresenceStore {
 public:
  static constexpr int64_t kStaleAfter = 30;  // seconds
  // A live server beats three times in that time.
  static constexpr double kHeartbeat = 10;

  // `server` is alive at `when` (Unix seconds) with that many clients
  // online and partner sessions open.
  virtual Result<void> heartbeat(const std::string& server, int64_t when, int64_t clients, int64_t sessions) = 0;
  // Where the other servers relay to `server` (FleetRelay): its fleet
  // socket's "ip:port", and its relay key with the fleet key's signature
  // over it, in hexadecimal. Kept until it is announced again.
  virtual Result<void> announce(const std::string& server, const std::string& relay,
                                const std::string& relayKey) = 0;
  // `server` starts: what an earlier run of it left is gone.
  virtual Result<void> clearPresence(const std::string& server) = 0;
  // `id` is online on `server`, its client at `address`.
  virtual Result<void> setPresence(const std::string& id, const std::string& server, const std::string& address,
                                   int64_t when) = 0;
  // `id` went offline on `server` (nothing when another server holds it now).
  virtual Result<void> dropPresence(const std::string& id, const std::string& server) = 0;
  // The live server holding `id` online at `now`, or nothing.
  virtual Result<std::optional<std::string>> presentOn(const std::string& id, int64_t now) = 0;

  struct Server {
    std::string name;
    int64_t heartbeat = 0;  // Unix seconds
    int64_t clients = 0;
    int64_t sessions = 0;  // partner sessions open
    std::string relay, relayKey;  // as announced; empty before
  };
  // Every server that ever beat, by name.
  virtual Result<std::vector<Server>> servers() = 0;

  // How long a heartbeat counts: kStaleAfter, but for tests of a server's
  // death, which would otherwise wait that long.
  void setStaleAfter(int64_t seconds) { staleAfter_ = seconds; }
  int64_t staleAfter() const { return staleAfter_; }

 protected:
  virtual ~PresenceStore() = default;
  int64_t staleAfter_ = kStaleAfter;
};

}  // namespace plimo
