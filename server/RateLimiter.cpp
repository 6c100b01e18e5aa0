#include "server/RateLimiter.h"

#include <algorithm>
#include <cmath>

namespace plimo {

namespace {

double level(double tokens, double updated, double now, Rate rate) {
  if (std::isnan(tokens)) return rate.burst;
  return std::min(rate.burst, tokens + (now - updated) * rate.perSecond);
}

}  // namespace

void TokenBucket::refill(double now, Rate rate) {
  tokens_ = level(tokens_, updated_, now, rate);
  updated_ = now;
}

bool TokenBucket::take(double now, Rate rate) {
  refill(now, rate);
  if (tokens_ < 1) return false;
  tokens_ -= 1;
  return true;
}

bool TokenBucket::allows(double now, Rate rate, double keep) {
  refill(now, rate);
  return tokens_ > keep;
}

bool TokenBucket::full(double now, Rate rate) const { return level(tokens_, updated_, now, rate) >= rate.burst; }

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
