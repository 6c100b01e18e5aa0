#include "core/TokenBucket.h"

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

}  // namespace plimo
