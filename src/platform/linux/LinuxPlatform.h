#pragma once
// The platform of a Linux desktop: the X screen (MIT-SHM, RandR, XFixes),
// XTEST input, the PulseAudio output and its monitor, the X clipboard, and
// H.264 and picture files through FFmpeg.

#include "platform/PlatformFactory.h"

namespace plimo {

class LinuxPlatform final : public PlatformFactory {
 public:
  std::unique_ptr<ScreenSource> screenSource() override;
  std::unique_ptr<InputSink> inputSink() override;
  std::unique_ptr<SoundCapture> soundCapture() override;
  std::unique_ptr<VideoEncoder> videoEncoder(int width, int height, int fps) override;
  std::unique_ptr<SoundOut> soundOut() override;
  std::unique_ptr<VideoDecoder> videoDecoder() override;
  std::optional<Picture> readPicture(const std::string& path, const Fit& fit) override;
  bool writePng(const std::string& path, const Picture& picture) override;
  std::unique_ptr<Clipboard> clipboard() override;
};

}  // namespace plimo
