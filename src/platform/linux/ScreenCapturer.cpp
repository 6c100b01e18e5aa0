#include "platform/linux/ScreenCapturer.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>

#include "core/StageLog.h"
#include "platform/linux/XConnection.h"
#include "platform/linux/XGrabber.h"
#include "platform/linux/XMonitors.h"

namespace plimo {

namespace {

// At most 60 pictures a second.
constexpr std::chrono::microseconds kFrameInterval{16667};

}  // namespace

ScreenCapturer::ScreenCapturer() = default;

ScreenCapturer::~ScreenCapturer() { stop(); }

std::vector<Display> ScreenCapturer::displays() {
  try {
    return listMonitors(XConnection::open()->get());
  } catch (const Failure&) {
    return {};  // no server: no screens, as the interface has it
  }
}

void ScreenCapturer::start(const Display& wanted, const std::vector<uint32_t>& excluding) {
  stop();
  const std::vector<Display> screens = listMonitors(XConnection::open()->get());
  const Display& chosen = choose(screens, wanted);
  auto grabber = XGrabber::open(chosen.bounds);

  began(chosen, grabber->size(), excluding);
  {
    std::lock_guard guard(wakeLock_);
    stopping_ = false;
  }
  thread_ = std::thread([this, g = std::move(grabber)]() mutable { run(std::move(g)); });
}

void ScreenCapturer::stop() {
  {
    std::lock_guard guard(wakeLock_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();  // called from onStopped against the contract: the thread ends by itself
    } else {
      thread_.join();
    }
  }
}

void ScreenCapturer::run(std::unique_ptr<XGrabber> grabber) {
  pthread_setname_np(pthread_self(), "plimo.capture");
  auto next = std::chrono::steady_clock::now();
  bool first = true;
  while (true) {
    {
      std::unique_lock wait(wakeLock_);
      if (wake_.wait_until(wait, next, [this] { return stopping_; })) return;
    }
    auto now = std::chrono::steady_clock::now();
    next = std::max(next + kFrameInterval, now);  // no bursts to catch up
    bool differs = grabber->poll();
    if (grabber->dead()) return ended("the X display closed the connection");
    if (!differs && !first) continue;
    stageMark("wake");
    PictureRef picture = grabber->picture();
    if (!picture) {
      if (grabber->dead()) return ended("the X display closed the connection");
      return ended("the screen can no longer be read");
    }
    first = false;
    slot.publish(std::move(picture));
    stageMark("slot");
  }
}

void ScreenCapturer::ended(const std::string& reason) {
  if (onStopped) onStopped(reason);
}

}  // namespace plimo
