#pragma once
// Which 9-digit IDs are online (and with which session), which were handed
// out lately, and the choice of new ones.
//
// An ID without a pin is leased: after its client goes offline it is not
// handed to anyone else for `leaseSeconds`, so a PC that reconnects (a
// restart, a network change) usually gets its ID back by naming it in HELLO.
// Leases live in memory only and are bounded; IDs are drawn at random from
// 900 million, so a lost lease costs almost nothing.
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
  IdRegistry(double leaseSeconds, size_t maxLeases);

  // True for exactly nine decimal digits, the first not 0.
  static bool isValid(const std::string& id);

  // The session holding `id` online, 0 when none.
  uint64_t holder(const std::string& id) const;
  size_t onlineCount() const { return online_.size(); }

  // `id` is now online for `serial` (replacing any earlier holder).
  void bringOnline(const std::string& id, uint64_t serial);
  // `id` goes offline; its lease runs from `now`.
  void takeOffline(const std::string& id, double now);
  // True when `id` was leased within the last `leaseSeconds`.
  bool leased(const std::string& id, double now) const;

  // A random free ID: not online, not leased, and not refused by `kept`
  // (IDs kept by a secret). Empty in the unlikely case that none was found.
  std::string allocate(double now, const std::function<bool(const std::string&)>& kept);

  double leaseSeconds() const { return leaseSeconds_; }

 private:
  void expire(double now);

  double leaseSeconds_;
  size_t maxLeases_;
  std::unordered_map<std::string, uint64_t> online_;
  std::unordered_map<std::string, double> leases_;  // id → when it went offline
  std::deque<std::pair<double, std::string>> leaseOrder_;
};

}  // namespace plimo
