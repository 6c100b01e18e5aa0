#pragma once
// The system's sound as it is played, in 20 ms μ-law packets for the helper.
//
// Owner: the host session. `start`, `stop` and `setAudioOn` from its thread;
// `onAudio` runs on the capture's own sound thread (set it before `start`;
// the session moves each packet to its own thread). No callback runs once
// `stop` (or the destructor) has returned.

#include <functional>
#include <mutex>
#include <span>
#include <vector>

#include "core/Bytes.h"

namespace plimo {

class SoundCapture {
 public:
  virtual ~SoundCapture() = default;

  // Starts recording. Throws Failure::Kind::noSound when nothing can be
  // recorded (pictures still flow; the session logs why).
  virtual void start() = 0;
  virtual void stop() = 0;

  // Switches sending on or off; off empties the unsent samples, so old sound
  // is never sent when it comes back on.
  void setAudioOn(bool on);
  // Samples taken and not yet packed (fewer than one packet).
  size_t pendingSamples();

  // Each 320-byte packet, in order, on the sound thread.
  std::function<void(Bytes)> onAudio;

 protected:
  // For implementations: captured samples (16 kHz mono, −1…1); hands out
  // every full packet while sound is on.
  void takeSound(std::span<const float> samples);

 private:
  std::mutex lock_;             // guards the two below only
  bool audioOn_ = false;
  std::vector<float> buffer_;   // samples not yet packed
};

}  // namespace plimo
