#include "host/FrameRate.h"

#include <algorithm>
#include <cstdio>

#include "protocol/wire/ChannelMsg.h"

namespace plimo {

std::optional<std::string> FrameRate::check(double now) {
  if (windowStart_ == 0) {
    windowStart_ = now;
    return std::nullopt;
  }
  if (!elapsed(now, windowStart_, kWindow)) return std::nullopt;
  const double blocked = wanted_ > 0 ? double(blocked_) / wanted_ : 0;
  std::optional<std::string> switched;
  if (captures_ >= kMinPictures) {
    const double encodeMs = encode_ * 1000 / captures_;
    if (rate60_) {
      if (blocked > 0.25 || encodeMs > 13) {
        if (++bad60_ == 2) {
          char reason[96];
          std::snprintf(reason, sizeof reason, "%d%% of due frames found no room, encode %.1f ms",
                        int(blocked * 100), encodeMs);
          switched = set(false, reason, now);
          retry60At_ = now + retryDelay_;
          retryDelay_ = std::min(retryDelay_ * 2, kLongestWait);
        }
      } else {
        bad60_ = 0;
      }
      if (!switched && now - since60_ > kHeldLong) retryDelay_ = kFirstWait;
    } else if (blocked < 0.05 && encodeMs < 11 && now >= retry60At_) {
      if (++good30_ == 2) switched = set(true, "the link keeps up again", now);
    } else {
      good30_ = 0;
    }
  }
  windowStart_ = now;
  wanted_ = blocked_ = captures_ = 0;
  encode_ = 0;
  return switched;
}

std::string FrameRate::set(bool to60, const std::string& reason, double now) {
  rate60_ = to60;
  bad60_ = 0;
  good30_ = 0;
  if (to60) since60_ = now;
  return std::string("frame rate now ") + (to60 ? "60" : "30") + " a second (" + reason + ")";
}

}  // namespace plimo
