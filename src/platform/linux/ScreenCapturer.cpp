#include "platform/linux/ScreenCapturer.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

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

ScreenCapturer::ScreenCapturer() : stopFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (stopFd_ < 0) throw Failure(Failure::Kind::unsupported, "no event descriptor for the capture thread");
}

ScreenCapturer::~ScreenCapturer() {
  stop();
  ::close(stopFd_);
}

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
  uint64_t drained = 0;
  while (::read(stopFd_, &drained, sizeof drained) > 0) {
  }
  thread_ = std::thread([this, g = std::move(grabber)]() mutable { run(std::move(g)); });
}

void ScreenCapturer::stop() {
  const uint64_t one = 1;
  if (::write(stopFd_, &one, sizeof one) < 0) {
    // Only a full counter fails, and a full counter wakes the thread too.
  }
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();  // called from onStopped against the contract: the thread ends by itself
    } else {
      thread_.join();
    }
  }
}

bool ScreenCapturer::waitUntil(int fd, Clock::time_point until) const {
  pollfd fds[2] = {{stopFd_, POLLIN, 0}, {fd, POLLIN, 0}};
  while (true) {
    // Looked at even when the time has passed, so a thread kept busy by a
    // screen that never stops changing still stops.
    const int64_t left = std::max<int64_t>(
        0, std::chrono::duration_cast<std::chrono::nanoseconds>(until - Clock::now()).count());
    const timespec timeout{time_t(left / 1000000000), long(left % 1000000000)};
    const int ready = ::ppoll(fds, fd >= 0 ? 2 : 1, &timeout, nullptr);
    if (ready > 0 && (fds[0].revents & POLLIN)) return false;
    if (ready > 0 || left == 0) return true;
  }
}

void ScreenCapturer::run(std::unique_ptr<XGrabber> grabber) {
  pthread_setname_np(pthread_self(), "plimo.capture");
  // Drawing on the screen is seen as soon as the server reports it; the
  // pointer, which reports nothing, is looked at 60 times a second; two
  // pictures are never closer than a frame interval.
  auto lastPicture = Clock::now() - kFrameInterval;
  auto nextLook = Clock::now();
  bool first = true;
  while (true) {
    if (!first && !grabber->queued() && !waitUntil(grabber->fd(), nextLook)) return;
    if (!waitUntil(-1, lastPicture + kFrameInterval)) return;
    const auto now = Clock::now();
    nextLook = now + kFrameInterval;
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
    lastPicture = now;
    slot.publish(std::move(picture));
    stageMark("slot");
  }
}

void ScreenCapturer::ended(const std::string& reason) {
  if (onStopped) onStopped(reason);
}

}  // namespace plimo
