#pragma once
// The platform of a Linux desktop: the X screen (MIT-SHM, RandR, XFixes),
// XTEST input and the PulseAudio output's monitor.

#include "platform/PlatformFactory.h"

namespace plimo {

class LinuxPlatform final : public PlatformFactory {
 public:
  std::unique_ptr<ScreenSource> screenSource() override;
  std::unique_ptr<InputSink> inputSink() override;
  std::unique_ptr<SoundCapture> soundCapture() override;
};

}  // namespace plimo
