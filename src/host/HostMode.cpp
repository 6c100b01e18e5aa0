#include "host/HostMode.h"

#include "protocol/wire/ChannelMsg.h"
#include "protocol/wire/SessionCodecs.h"

namespace plimo {

namespace {

constexpr double kRepeat = 2.0;

}  // namespace

void HostMode::allow(SessionMode mode) {
  mode_ = mode;
  send();
}

void HostMode::setPaused(bool paused) {
  paused_ = paused;
  send();
}

void HostMode::repeat(double now) {
  if (lastSent_ != 0 && !elapsed(now, lastSent_, kRepeat)) return;
  lastSent_ = now;
  send();
}

void HostMode::send() const {
  send_(HostStatus::encode({modeByte(paused_ ? SessionMode::paused : mode_), true, false}));
}

}  // namespace plimo
