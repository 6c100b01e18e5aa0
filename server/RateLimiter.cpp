#include "server/RateLimiter.h"

#include <algorithm>

namespace plimo {

namespace {

double level(double tokens, double updated, double now, Rate rate) {
  double burst = std::max(rate.burst, 1.0);
  if (tokens < 0) return burst;
  return std::min(burst, tokens + (now - updated) * rate.perSecond);
}

}  // namespace

bool TokenBucket::take(double now, Rate rate, double keep) {
  tokens_ = level(tokens_, updated_, now, rate);
  updated_ = now;
  if (tokens_ < 1 + keep) return false;
  tokens_ -= 1;
  return true;
}

bool TokenBucket::full(double now, Rate rate) const {
  return level(tokens_, updated_, now, rate) >= std::max(rate.burst, 1.0);
}

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
