#pragma once
// The fakes as a platform factory: a scripted screen, a recording input sink
// and a null sound capture. The factory keeps a pointer to the last of each
// it made, so the test can drive them while the session owns them; those
// pointers are valid only while the session lives.

#include <memory>
#include <utility>
#include <vector>

#include "platform/PlatformFactory.h"
#include "platform/fake/NullSoundCapture.h"
#include "platform/fake/RecordingInputSink.h"
#include "platform/fake/ScriptedScreen.h"

namespace plimo {

class FakePlatform final : public PlatformFactory {
 public:
  std::vector<Display> screens{{1, {0, 0, 1920, 1080}, true}};
  Size pictureSize{1920, 1080};
  bool noInput = false;  // inputSink() throws noXTest

  ScriptedScreen* screen = nullptr;
  RecordingInputSink* input = nullptr;
  NullSoundCapture* sound = nullptr;

  std::unique_ptr<ScreenSource> screenSource() override {
    auto made = std::make_unique<ScriptedScreen>();
    made->screens = screens;
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
};

}  // namespace plimo
