#include "server/IdRegistry.h"

#include "core/Bytes.h"
#include "core/PlimoID.h"
#include "protocol/crypto/PlimoCrypto.h"

namespace plimo {

namespace {

// Tries before giving up: with even a million IDs taken, the chance that 64
// random draws all hit one is below 10^-180.
constexpr int kAllocateTries = 64;
constexpr uint32_t kFirstID = 100000000;
constexpr uint32_t kIDCount = 900000000;

}  // namespace

IdRegistry::IdRegistry(double leaseSeconds, size_t maxLeases, size_t maxLeasesPerAddress)
    : leaseSeconds_(leaseSeconds), maxLeases_(maxLeases), maxLeasesPerAddress_(maxLeasesPerAddress) {}

bool IdRegistry::isValid(const std::string& id) {
  // IDs are handed out from 100000000 up; one with a leading 0 never was.
  return isPlimoID(id) && id[0] != '0';
}

uint64_t IdRegistry::holder(const std::string& id) const {
  auto it = online_.find(id);
  return it == online_.end() ? 0 : it->second;
}

void IdRegistry::bringOnline(const std::string& id, uint64_t serial) {
  online_[id] = serial;
  if (auto it = leases_.find(id); it != leases_.end()) dropLease(it);
}

void IdRegistry::takeOffline(const std::string& id, double now, uint32_t ip) {
  online_.erase(id);
  expire(now);
  if (auto it = leases_.find(id); it != leases_.end()) dropLease(it);
  if (leasesPerAddress_[ip] >= maxLeasesPerAddress_) return;
  // Full of live leases: the oldest gives way.
  while (!leaseOrder_.empty() && leases_.size() >= maxLeases_) {
    auto [when, old] = leaseOrder_.front();
    leaseOrder_.pop_front();
    dropLease(old, when);
  }
  leases_[id] = Lease{now, ip};
  ++leasesPerAddress_[ip];
  leaseOrder_.emplace_back(now, id);
}

bool IdRegistry::leased(const std::string& id, double now) const {
  auto it = leases_.find(id);
  return it != leases_.end() && now - it->second.since < leaseSeconds_;
}

uint32_t IdRegistry::leaseHolder(const std::string& id) const {
  auto it = leases_.find(id);
  return it == leases_.end() ? 0 : it->second.ip;
}

void IdRegistry::dropLease(const std::string& id, double since) {
  auto it = leases_.find(id);
  if (it != leases_.end() && it->second.since == since) dropLease(it);
}

void IdRegistry::dropLease(std::unordered_map<std::string, Lease>::iterator it) {
  auto count = leasesPerAddress_.find(it->second.ip);
  if (--count->second == 0) leasesPerAddress_.erase(count);
  leases_.erase(it);
}

void IdRegistry::expire(double now) {
  // The order queue may hold entries whose ID was leased again later or came
  // back online; those are skipped, only the matching entry removes a lease.
  while (!leaseOrder_.empty() && now - leaseOrder_.front().first >= leaseSeconds_) {
    auto [when, id] = leaseOrder_.front();
    leaseOrder_.pop_front();
    dropLease(id, when);
  }
  // Entries of IDs back online pile up in the queue; rebuild it when they
  // outnumber the live leases.
  if (leaseOrder_.size() > 2 * leases_.size() + 1024) {
    std::deque<std::pair<double, std::string>> live;
    for (auto& entry : leaseOrder_) {
      auto it = leases_.find(entry.second);
      if (it != leases_.end() && it->second.since == entry.first) live.push_back(std::move(entry));
    }
    leaseOrder_.swap(live);
  }
}

std::string IdRegistry::allocate(double now,
                                 const std::function<bool(const std::string&)>& kept) {
  expire(now);
  for (int i = 0; i < kAllocateTries; ++i) {
    Bytes random = PlimoCrypto::randomBytes(4);
    uint32_t value = readLE32(random, 0);
    // Rejection sampling keeps the draw uniform over the 900 million IDs.
    if (value >= UINT32_MAX / kIDCount * kIDCount) continue;
    std::string id = std::to_string(kFirstID + value % kIDCount);
    if (online_.count(id) || leased(id, now) || kept(id)) continue;
    return id;
  }
  return {};
}

}  // namespace plimo
