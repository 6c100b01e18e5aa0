#pragma once
// Which 9-digit IDs are online (and with which session), which were handed
// out lately, and the choice of new ones.
//
// An ID without a pin is leased: after its client goes offline it is not
// handed to anyone else for `leaseSeconds`, so a PC that reconnects (a
// network change, a lost server session) gets its ID back by naming it in
// HELLO from the lease's public address. Leases live in memory only and are
// bounded, in all and per address; IDs are drawn at random from 900 million,
// so a lost lease costs almost nothing.
//
// One thread (the server loop).

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <unordered_map>

namespace plimo {

class IdRegistry {
 public:
  IdRegistry(double leaseSeconds, size_t maxLeases, size_t maxLeasesPerAddress);

  // True for exactly nine decimal digits, the first not 0.
  static bool isValid(const std::string& id);

  // The session holding `id` online, 0 when none.
  uint64_t holder(const std::string& id) const;
  size_t onlineCount() const { return online_.size(); }

  // `id` is now online for `serial` (replacing any earlier holder).
  void bringOnline(const std::string& id, uint64_t serial);
  // `id`, last held from `ip`, goes offline; its lease runs from `now`. An
  // address with its full count of leases gets none more: its newest IDs
  // are not held for it.
  void takeOffline(const std::string& id, double now, uint32_t ip);
  // True when `id` was leased within the last `leaseSeconds`.
  bool leased(const std::string& id, double now) const;
  // The address whose client held `id` last, 0 without a lease.
  uint32_t leaseHolder(const std::string& id) const;

  // A random free ID: not online, not leased, and not refused by `kept`
  // (IDs kept by a secret). Empty in the unlikely case that none was found.
  std::string allocate(double now, const std::function<bool(const std::string&)>& kept);

  double leaseSeconds() const { return leaseSeconds_; }

 private:
  struct Lease {
    double since;  // when the ID went offline
    uint32_t ip;
  };
  void expire(double now);
  // Removes the lease of `id` when it is the one from `since`.
  void dropLease(const std::string& id, double since);
  void dropLease(std::unordered_map<std::string, Lease>::iterator it);

  double leaseSeconds_;
  size_t maxLeases_;
  size_t maxLeasesPerAddress_;
  std::unordered_map<std::string, uint64_t> online_;
  std::unordered_map<std::string, Lease> leases_;
  std::unordered_map<uint32_t, size_t> leasesPerAddress_;
  std::deque<std::pair<double, std::string>> leaseOrder_;
};

}  // namespace plimo
