#pragma once
// What the person at this PC allows the helper, and the status packet that
// says it: sent at each change and again every 2 s, so a viewer that lost it
// (or joined late) learns the mode within a few seconds.
//
// Owner: the host session; its thread only.

#include <functional>

#include "core/Bytes.h"
#include "protocol/wire/SessionMode.h"

namespace plimo {

class HostMode {
 public:
  explicit HostMode(std::function<void(ByteView)> send) : send_(std::move(send)) {}

  // Consent given, for control or to view only.
  void allow(SessionMode mode);
  void setPaused(bool paused);
  // A capture pass at `now`: the status again once it is due.
  void repeat(double now);

  // Control or view only, as the person allowed; paused() says whether paused.
  SessionMode mode() const { return mode_; }
  bool paused() const { return paused_; }
  // The helper's input and requests take effect.
  bool control() const { return !paused_ && mode_ == SessionMode::control; }

 private:
  void send() const;

  const std::function<void(ByteView)> send_;
  SessionMode mode_ = SessionMode::viewOnly;
  bool paused_ = false;
  double lastSent_ = 0;  // by `repeat`
};

}  // namespace plimo
