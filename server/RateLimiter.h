#pragma once
// Token buckets: one per client (core/TokenBucket, held by its owner) or one
// per source address (RateLimiter, with bounded memory).
//
// One thread (the server loop).

#include <cstddef>
#include <cstdint>
#include <unordered_map>

#include "core/TokenBucket.h"

namespace plimo {

class RateLimiter {
 public:
  // Source addresses the server's limits track at once (a few MB at most).
  static constexpr size_t kTrackedAddresses = 65536;

  // At most `maxAddresses` addresses remembered.
  RateLimiter(Rate rate, size_t maxAddresses);

  // True when one more event from `ip` is allowed now (and counts it).
  bool allow(uint32_t ip, double now);

  size_t size() const { return buckets_.size(); }

 private:
  void prune(double now);

  Rate rate_;
  size_t maxAddresses_;
  std::unordered_map<uint32_t, TokenBucket> buckets_;
};

}  // namespace plimo
