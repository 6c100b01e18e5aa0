#pragma once
// The fakes as a platform factory: a scripted screen, a recording input sink,
// a null sound capture and output, a clipboard, and picture files kept in
// memory; the video is FFmpeg's, as the tests that check pictures need real
// H.264. The
// factory keeps a pointer to the last of each it made, so the test can drive
// them while the session owns them; those pointers are valid only while the
// session lives.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/PlatformFactory.h"
#include "platform/fake/FakeClipboard.h"
#include "platform/fake/NullSoundCapture.h"
#include "platform/fake/NullSoundOut.h"
#include "platform/fake/RecordingInputSink.h"
#include "platform/fake/ScriptedScreen.h"
#include "platform/ffmpeg/H264Decoder.h"
#include "platform/ffmpeg/H264Encoder.h"

namespace plimo {

class FakePlatform final : public PlatformFactory {
 public:
  std::vector<Display> screens = oneScreen();
  std::vector<Display> sharedScreens;  // see ScriptedScreen
  Size pictureSize{1920, 1080};
  bool noInput = false;  // inputSink() throws noXTest
  bool noSoundOut = false;  // soundOut() throws noSound
  // Picture "files" by path; read scaled to the fit by the nearest pixel.
  std::map<std::string, Picture> files;
  // Pictures written, by path.
  std::map<std::string, Picture> written;

  ScriptedScreen* screen = nullptr;
  RecordingInputSink* input = nullptr;
  NullSoundCapture* sound = nullptr;
  NullSoundOut* soundOutput = nullptr;
  FakeClipboard* clipboardMade = nullptr;

  // One 1920 x 1080 primary screen. Built without an initializer list, which
  // GCC 12 at -O2 takes for uninitialized when inlined into a test's fixture.
  static std::vector<Display> oneScreen() {
    std::vector<Display> out(1);
    out[0].id = 1;
    out[0].bounds = {0, 0, 1920, 1080};
    out[0].primary = true;
    return out;
  }

  std::unique_ptr<ScreenSource> screenSource() override {
    auto made = std::make_unique<ScriptedScreen>();
    made->screens = screens;
    made->sharedScreens = sharedScreens;
    made->pictureSize = pictureSize;
    screen = made.get();
    return made;
  }
  std::unique_ptr<InputSink> inputSink() override {
    if (noInput) throw Failure(Failure::Kind::noXTest, "The X server does not offer XTEST, so input cannot be played");
    auto made = std::make_unique<RecordingInputSink>();
    input = made.get();
    return made;
  }
  std::unique_ptr<SoundCapture> soundCapture() override {
    auto made = std::make_unique<NullSoundCapture>();
    sound = made.get();
    return made;
  }
  std::unique_ptr<VideoEncoder> videoEncoder(int width, int height, int fps) override {
    return std::make_unique<H264Encoder>(width, height, fps);
  }
  std::unique_ptr<VideoDecoder> videoDecoder() override { return std::make_unique<H264Decoder>(); }
  std::unique_ptr<SoundOut> soundOut() override {
    if (noSoundOut) throw Failure(Failure::Kind::noSound, "No sound output");
    auto made = std::make_unique<NullSoundOut>();
    soundOutput = made.get();
    return made;
  }
  std::optional<Picture> readPicture(const std::string& path, const Fit& fit) override {
    auto it = files.find(path);
    if (it == files.end() || it->second.width < 1 || it->second.height < 1) return std::nullopt;
    const Picture& from = it->second;
    const Size size = fit(from.width, from.height);
    Picture out(int(size.width), int(size.height));
    for (int y = 0; y < out.height; ++y)
      for (int x = 0; x < out.width; ++x)
        for (int c = 0; c < 4; ++c)
          out.row(y)[x * 4 + c] = from.row(y * from.height / out.height)[(x * from.width / out.width) * 4 + c];
    return out;
  }
  bool writePng(const std::string& path, const Picture& picture) override {
    written[path] = picture;
    return true;
  }
  // A desktop that asks the person once more before it shares (Wayland's
  // portal): the session's `answered` is kept until the test answers, and
  // `asking` lives while the session waits.
  bool desktopAsks = false;
  std::function<void()> answerDesktop;
  std::weak_ptr<void> asking;
  std::shared_ptr<void> askToShare(std::function<void()> answered) override {
    if (!desktopAsks) return nullptr;
    answerDesktop = std::move(answered);
    auto handle = std::make_shared<int>(0);
    asking = handle;
    return handle;
  }
  std::unique_ptr<Clipboard> clipboard() override {
    auto made = std::make_unique<FakeClipboard>();
    clipboardMade = made.get();
    return made;
  }
};

}  // namespace plimo
