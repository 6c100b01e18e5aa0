#pragma once
// The portal's Request/Response pattern, in one place: every portal call
// that asks the desktop returns a Request object and answers later with its
// Response signal, so the signal is subscribed (on the path the portal will
// use, from our handle_token) before the call is made.

#include <chrono>
#include <functional>
#include <string>

#include "platform/wayland/Bus.h"

namespace plimo {

struct PortalResponse {
  // 0 granted, 1 the person declined, 2 the desktop failed; -1 no answer
  // in time (or the bus closed).
  int code = -1;
  // Positioned at the results a{sv}.
  BusMessage results;
};

class PortalRequests {
 public:
  explicit PortalRequests(Bus& bus) : bus_(bus) {}

  // A token of ours, unique on this connection ("plimo3").
  std::string token();
  // Calls `member` of `interface` on the portal; `fill` appends the call's
  // arguments and must put `handleToken` into its options as handle_token.
  // Throws Failure when the call itself fails. A request not answered in
  // `wait` (or cancelled, Bus::cancel) is closed.
  PortalResponse ask(const std::string& interface, const std::string& member,
                     const std::function<void(sd_bus_message*, const std::string& handleToken)>& fill,
                     std::chrono::steady_clock::duration wait);

 private:
  Bus& bus_;
  int serial_ = 0;
};

}  // namespace plimo
