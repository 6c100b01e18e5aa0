#include "platform/linux/LinuxPlatform.h"

#include "platform/ffmpeg/H264Decoder.h"
#include "platform/ffmpeg/H264Encoder.h"
#include "platform/ffmpeg/ImageFiles.h"
#include "platform/linux/PulseSoundCapture.h"
#include "platform/linux/PulseSoundOut.h"
#include "platform/linux/ScreenCapturer.h"
#include "platform/linux/XClipboard.h"
#include "platform/linux/XTestInputSink.h"

namespace plimo {

std::unique_ptr<ScreenSource> LinuxPlatform::screenSource() { return std::make_unique<ScreenCapturer>(); }

std::unique_ptr<InputSink> LinuxPlatform::inputSink() { return XTestInputSink::open(); }

std::unique_ptr<SoundCapture> LinuxPlatform::soundCapture() { return std::make_unique<PulseSoundCapture>(); }

std::unique_ptr<VideoEncoder> LinuxPlatform::videoEncoder(int width, int height, int fps) {
  return std::make_unique<H264Encoder>(width, height, fps);
}

std::unique_ptr<SoundOut> LinuxPlatform::soundOut() { return PulseSoundOut::open(); }

std::unique_ptr<VideoDecoder> LinuxPlatform::videoDecoder() { return std::make_unique<H264Decoder>(); }

std::optional<Picture> LinuxPlatform::readPicture(const std::string& path, const Fit& fit) {
  return ImageFiles::read(path, fit);
}

bool LinuxPlatform::writePng(const std::string& path, const Picture& picture) {
  return ImageFiles::writePng(path, picture);
}

// Without a display (a headless PC over SSH) there is no clipboard to share.
std::unique_ptr<Clipboard> LinuxPlatform::clipboard() {
  try {
    return std::make_unique<XClipboard>();
  } catch (const Failure&) {
    return nullptr;
  }
}

}  // namespace plimo
