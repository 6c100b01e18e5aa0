#include "host/EarlyMessages.h"

#include <utility>

namespace plimo {

void EarlyMessages::hold(ChannelMsg msg) {
  if (held_.size() >= kMaxMessages || bytes_ + msg.data.size() > kMaxBytes) {
    if (!std::exchange(overflowLogged_, true)) log_("too many messages before consent; the rest are dropped");
    return;
  }
  bytes_ += msg.data.size();
  held_.push_back(std::move(msg));
}

std::deque<ChannelMsg> EarlyMessages::take() {
  bytes_ = 0;
  return std::exchange(held_, {});
}

}  // namespace plimo
