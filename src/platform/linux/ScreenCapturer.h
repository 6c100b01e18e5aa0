#pragma once
// Captures one X screen (a RandR monitor).
//
// A capture thread reads the monitor's rectangle at most 60 times a second,
// only when XDamage reports drawing or the pointer moved or changed, draws
// the pointer in and puts the picture in the slot.
//
// Windows to exclude are kept but not left out: without a compositor an X
// picture holds whatever is on the screen.
//
// Owner: the host session. `start` and `stop` from its thread; `onStopped`
// runs on the capture thread and must not call `stop` itself (the session
// moves it to its own thread first).

#include <condition_variable>
#include <memory>
#include <mutex>
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
  void run(std::unique_ptr<XGrabber> grabber);
  void ended(const std::string& reason);

  std::thread thread_;
  std::mutex wakeLock_;
  std::condition_variable wake_;
  bool stopping_ = false;  // under wakeLock_
};

}  // namespace plimo
