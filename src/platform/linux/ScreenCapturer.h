#pragma once
// Captures one X screen (a RandR monitor).
//
// A capture thread reads the monitor's rectangle at most 60 times a second,
// as soon as XDamage reports drawing or the pointer moved or changed, draws
// the pointer in and puts the picture in the slot.
//
// Windows to exclude are kept but not left out: without a compositor an X
// picture holds whatever is on the screen.
//
// Owner: the host session. `start` and `stop` from its thread; `onStopped`
// runs on the capture thread and must not call `stop` itself (the session
// moves it to its own thread first).

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "platform/ScreenSource.h"

namespace plimo {

class XGrabber;

class ScreenCapturer final : public ScreenSource {
 public:
  ScreenCapturer();
  ~ScreenCapturer() override;

  std::vector<Display> displays() override;
  void start(const Display& wanted, const std::vector<uint32_t>& excluding) override;
  void stop() override;

 private:
  using Clock = std::chrono::steady_clock;

  void run(std::unique_ptr<XGrabber> grabber);
  // Waits until `until` or until `fd` (none when negative) is readable:
  // true then, false when the capture is to stop.
  bool waitUntil(int fd, Clock::time_point until) const;
  void ended(const std::string& reason);

  std::thread thread_;
  const int stopFd_;  // an eventfd: readable once stop() is called
};

}  // namespace plimo
