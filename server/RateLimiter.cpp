#include "server/RateLimiter.h"

#include <algorithm>

namespace plimo {

RateLimiter::RateLimiter(Rate rate, size_t maxAddresses)
    : rate_(rate), maxAddresses_(std::max<size_t>(maxAddresses, 1)) {}

bool RateLimiter::allow(uint32_t ip, double now) {
  if (!buckets_.count(ip) && buckets_.size() >= maxAddresses_) prune(now);
  return buckets_[ip].take(now, rate_);
}

void RateLimiter::prune(double now) {
  std::erase_if(buckets_, [&](const auto& entry) { return entry.second.full(now, rate_); });
  // Addresses all busy (forged sources, most likely): forget them all rather
  // than refuse every new address.
  if (buckets_.size() >= maxAddresses_) buckets_.clear();
}

}  // namespace plimo
