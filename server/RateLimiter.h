#pragma once
// Token buckets per source address (IPv4), with bounded memory.
//
// One thread (the server loop).

#include <cstddef>
#include <cstdint>
#include <unordered_map>

namespace plimo {

class RateLimiter {
 public:
  // `rate` events a second on average, up to `burst` at once, per address;
  // at most `maxAddresses` addresses remembered.
  RateLimiter(double rate, double burst, size_t maxAddresses);

  // True when one more event from `ip` is allowed now (and counts it).
  bool allow(uint32_t ip, double now);

  size_t size() const { return buckets_.size(); }

 private:
  struct Bucket {
    double tokens;
    double updated;
  };
  void prune(double now);

  double rate_;
  double burst_;
  size_t maxAddresses_;
  std::unordered_map<uint32_t, Bucket> buckets_;
};

}  // namespace plimo
