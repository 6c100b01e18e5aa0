#pragma once
// The host's sound played here: the output opens with the first packet, and
// when it cannot open, sound stays off for the session.
//
// Owner: the viewer session; its thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/Bytes.h"
#include "platform/PlatformFactory.h"
#include "viewer/AudioPlayer.h"

namespace plimo {

class ViewerSound {
 public:
  // `onFailed` hears once that the output did not open, after `log` heard why.
  ViewerSound(PlatformFactory& platform, std::function<void(const std::string&)> log, std::function<void()> onFailed)
      : platform_(platform), log_(std::move(log)), onFailed_(std::move(onFailed)) {}

  // One audio packet from the host.
  void play(ByteView packet);
  // Drops what is queued (muting).
  void flush();
  void close();

 private:
  PlatformFactory& platform_;
  const std::function<void(const std::string&)> log_;
  const std::function<void()> onFailed_;
  std::unique_ptr<SoundOut> out_;  // before the player, which plays into it
  std::optional<AudioPlayer> player_;
  bool failed_ = false;
};

}  // namespace plimo
