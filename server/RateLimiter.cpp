#include "server/RateLimiter.h"

#include <algorithm>

namespace plimo {

RateLimiter::RateLimiter(double rate, double burst, size_t maxAddresses)
    : rate_(rate), burst_(std::max(burst, 1.0)), maxAddresses_(std::max<size_t>(maxAddresses, 1)) {}

bool RateLimiter::allow(uint32_t ip, double now) {
  auto it = buckets_.find(ip);
  if (it == buckets_.end()) {
    if (buckets_.size() >= maxAddresses_) prune(now);
    it = buckets_.emplace(ip, Bucket{burst_, now}).first;
  }
  Bucket& b = it->second;
  b.tokens = std::min(burst_, b.tokens + (now - b.updated) * rate_);
  b.updated = now;
  if (b.tokens < 1) return false;
  b.tokens -= 1;
  return true;
}

void RateLimiter::prune(double now) {
  // A bucket that has refilled holds nothing a fresh one would not.
  std::erase_if(buckets_, [&](const auto& entry) {
    return entry.second.tokens + (now - entry.second.updated) * rate_ >= burst_;
  });
  // Addresses all busy (forged sources, most likely): forget them all rather
  // than refuse every new address.
  if (buckets_.size() >= maxAddresses_) buckets_.clear();
}

}  // namespace plimo
