#pragma once
// This PC's sound for the helper: recorded from consent on, once the helper
// asks for it, and sent as numbered packets while wanted and not paused.
//
// Owner: the host session, which stops it when the session ends. Its thread
// only; the sound thread's packets reach it through posted tasks that check
// it still lives.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/Bytes.h"
#include "core/EventLoop.h"
#include "core/Weakly.h"
#include "platform/PlatformFactory.h"

namespace plimo {

class HostSound {
 public:
  HostSound(EventLoop& loop, PlatformFactory& platform, std::function<void(ByteView)> send,
            std::function<void(const std::string&)> log);
  HostSound(const HostSound&) = delete;
  HostSound& operator=(const HostSound&) = delete;

  // Consent given: recording may start.
  void start();
  void stop();
  // The helper's sound request, on or off.
  void setWanted(bool on);
  void setPaused(bool paused) { paused_ = paused; }

 private:
  void update();
  void sendPacket(const Bytes& payload);

  const std::function<void(ByteView)> send_;
  const std::function<void(const std::string&)> log_;
  std::unique_ptr<SoundCapture> capture_;
  bool running_ = false;
  bool started_ = false;
  bool wanted_ = false;
  bool paused_ = false;
  uint32_t seq_ = 0;
  LifeGuard<HostSound> guard_{this};
};

}  // namespace plimo
