#pragma once
// Where the host session gets the system it shares: the screen, the input
// and the sound. The executables give the X11 / XTest / PulseAudio factory,
// tests and benches the fakes, so no session code knows which it has.
//
// Owner: whoever builds the sessions; it outlives them. Called on the
// session's thread; each call makes a new object the caller owns.

#include <memory>

#include "platform/InputSink.h"
#include "platform/ScreenSource.h"
#include "platform/SoundCapture.h"

namespace plimo {

class PlatformFactory {
 public:
  virtual ~PlatformFactory() = default;

  virtual std::unique_ptr<ScreenSource> screenSource() = 0;
  // Throws Failure (noServer, noXTest) when input cannot be played here.
  virtual std::unique_ptr<InputSink> inputSink() = 0;
  virtual std::unique_ptr<SoundCapture> soundCapture() = 0;
};

}  // namespace plimo
