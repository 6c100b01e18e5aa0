#pragma once
// A token bucket: events allowed at an average rate with a burst, on the
// caller's clock (an EventLoop's now(), virtual in tests).
//
// One thread, the owner's.

#include <limits>

namespace plimo {

// `perSecond` events a second on average, up to `burst` at once.
struct Rate {
  double perSecond;
  double burst;
};

// The rate lives with the owner, so that a bucket per client costs 16 bytes.
class TokenBucket {
 public:
  // True when one more event is allowed now (and counts it).
  bool take(double now, Rate rate);
  // For costs known only afterwards: true when more than `keep` is left
  // now; `spend` then takes the cost, which may leave a debt that the rate
  // pays off.
  bool allows(double now, Rate rate, double keep);
  void spend(double amount) { tokens_ -= amount; }
  // True when the bucket has refilled: it holds nothing a fresh one would not.
  bool full(double now, Rate rate) const;

 private:
  void refill(double now, Rate rate);

  double tokens_ = std::numeric_limits<double>::quiet_NaN();  // never used: full
  double updated_ = 0;
};

}  // namespace plimo
