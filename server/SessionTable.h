#pragma once
// Every client session, by endpoint and by serial, in order of idleness.
//
// Two bounded lists: confirmed sessions (a packet opened under their keys) and
// sessions that only received a welcome. A flood of handshakes, even from
// forged addresses, only ever evicts other unconfirmed sessions; confirmed
// clients are evicted only by other confirmed ones, the idlest first. The
// table itself never ends a session: the owner asks for the victim
// (`idlest`) and ends it with its own bookkeeping before adding.
//
// One thread (the server loop).

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <unordered_map>
#include <vector>

#include "server/ClientSession.h"

namespace plimo {

class SessionTable {
 public:
  SessionTable(size_t confirmedCapacity, size_t unconfirmedCapacity);

  ClientSession* find(const Endpoint& endpoint);
  ClientSession* find(uint64_t serial);
  const ClientSession* find(const Endpoint& endpoint) const;
  const ClientSession* find(uint64_t serial) const;

  // True when adding one more of that kind needs an eviction first.
  bool full(bool confirmed) const;
  // The idlest session of that kind (nothing when there is none).
  ClientSession* idlest(bool confirmed);

  // A new unconfirmed session. The endpoint must not have one already, and
  // the owner has made room (`full(false)` is false).
  ClientSession& add(const Endpoint& endpoint, double now);
  // Moves a session into the confirmed list (the owner has made room).
  void confirm(ClientSession& session);
  // Marks activity: the session becomes the least idle of its list.
  void touch(ClientSession& session, double now);
  // Forgets a session; the reference is invalid afterwards.
  void remove(uint64_t serial);

  // Serials of confirmed (or unconfirmed) sessions silent since before
  // `cutoff`, idlest first.
  std::vector<uint64_t> silentSince(bool confirmed, double cutoff) const;

  size_t size() const { return sessions_.size(); }
  // Sessions, confirmed or not, from one source address.
  size_t countAt(uint32_t ip) const;
  size_t confirmedCount() const { return confirmed_.size(); }

 private:
  std::list<uint64_t>& listOf(const ClientSession& s) { return s.confirmed ? confirmed_ : unconfirmed_; }

  size_t confirmedCapacity_;
  size_t unconfirmedCapacity_;
  uint64_t nextSerial_ = 1;
  std::unordered_map<uint64_t, std::unique_ptr<ClientSession>> sessions_;
  std::unordered_map<Endpoint, uint64_t> byEndpoint_;
  std::unordered_map<uint32_t, size_t> perAddress_;
  // Front = most recently active, back = idlest.
  std::list<uint64_t> confirmed_;
  std::list<uint64_t> unconfirmed_;
};

}  // namespace plimo
