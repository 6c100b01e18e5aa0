#include "platform/linux/LinuxPlatform.h"

#include "platform/linux/PulseSoundCapture.h"
#include "platform/linux/ScreenCapturer.h"
#include "platform/linux/XTestInputSink.h"

namespace plimo {

std::unique_ptr<ScreenSource> LinuxPlatform::screenSource() { return std::make_unique<ScreenCapturer>(); }

std::unique_ptr<InputSink> LinuxPlatform::inputSink() { return XTestInputSink::open(); }

std::unique_ptr<SoundCapture> LinuxPlatform::soundCapture() { return std::make_unique<PulseSoundCapture>(); }

}  // namespace plimo
