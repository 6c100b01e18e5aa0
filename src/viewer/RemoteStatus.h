#pragma once
// The host's status as its status packets tell it: the session's mode
// (logged as it changes), whether admin rights are at hand, and whether its
// secure desktop shows.
//
// Owner: the viewer session; its thread only.

#include <functional>
#include <string>

#include "core/Bytes.h"
#include "core/Observable.h"
#include "protocol/wire/SessionMode.h"

namespace plimo {

class RemoteStatus {
 public:
  explicit RemoteStatus(std::function<void(const std::string&)> log) : log_(std::move(log)) {}

  // One host status packet; a malformed one is ignored.
  void take(ByteView packet);

  const Observable<SessionMode>& mode() const { return mode_; }
  const Observable<bool>& adminAvailable() const { return adminAvailable_; }
  const Observable<bool>& secureDesktop() const { return secureDesktop_; }

 private:
  const std::function<void(const std::string&)> log_;
  Observable<SessionMode> mode_{SessionMode::waitingForConsent};
  // The mode byte last heard (-1: none), logged as it changes.
  int modeByte_ = -1;
  Observable<bool> adminAvailable_{false};
  Observable<bool> secureDesktop_{false};
};

}  // namespace plimo
