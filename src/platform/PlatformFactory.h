#pragma once
// Where the sessions get the system: the host session the screen, the input
// and the sound it shares and its H.264 encoders, the viewer session the sound
// output, its H.264 decoders and picture files. The executables give the
// X11 / XTest / PulseAudio / FFmpeg factory, tests and benches the fakes, so
// no session code knows which it has.
//
// Owner: whoever builds the sessions; it outlives them. Called on the
// session's thread; each call makes a new object the caller owns.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Clipboard.h"
#include "platform/Geometry.h"
#include "platform/InputSink.h"
#include "platform/Picture.h"
#include "platform/ScreenSource.h"
#include "platform/SoundCapture.h"
#include "platform/SoundOut.h"
#include "platform/VideoDecoder.h"
#include "platform/VideoEncoder.h"

namespace plimo {

class PlatformFactory {
 public:
  virtual ~PlatformFactory() = default;

  virtual std::unique_ptr<ScreenSource> screenSource() = 0;
  // Throws Failure (noServer, noXTest) when input cannot be played here.
  virtual std::unique_ptr<InputSink> inputSink() = 0;
  virtual std::unique_ptr<SoundCapture> soundCapture() = 0;
  // An encoder for width × height pictures arriving `fps` times a second (60
  // or 30). Throws Failure::Kind::h264Create when none opens for this size.
  virtual std::unique_ptr<VideoEncoder> videoEncoder(int width, int height, int fps) = 0;

  // Throws Failure (noSound) when no sound can be played here.
  virtual std::unique_ptr<SoundOut> soundOut() = 0;
  virtual std::unique_ptr<VideoDecoder> videoDecoder() = 0;
  // Size of the picture a file is reduced to, given the file's own size.
  using Fit = std::function<Size(int width, int height)>;
  // A picture file (PNG, JPEG, BMP, GIF, WebP, TIFF) scaled with high
  // quality to the size `fit` gives and laid over black; nothing when the
  // file cannot be read as a picture.
  virtual std::optional<Picture> readPicture(const std::string& path, const Fit& fit) = 0;
  // Writes `picture` as a PNG file; false when it cannot.
  [[nodiscard]] virtual bool writePng(const std::string& path, const Picture& picture) = 0;

  // The clipboard both sessions share text through; nothing when this PC has
  // none (or the platform offers none).
  virtual std::unique_ptr<Clipboard> clipboard() { return nullptr; }

  // A desktop that asks the person once more before it shares its screen
  // (Wayland's portal) asks here without blocking: `answered` runs on
  // another thread once the person answered or the asking failed, and the
  // screen source's start then starts at once or throws the failure.
  // Dropping what it returns ends the asking. Null when nothing is asked.
  virtual std::shared_ptr<void> askToShare(std::function<void()> /*answered*/) { return nullptr; }
};

}  // namespace plimo
