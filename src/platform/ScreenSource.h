#pragma once
// What the host session captures from: the screens, one screen's pictures in a
// single slot, and the system sound as 20 ms μ-law packets.
//
// The slot is a latest-picture mailbox, never a queue: the capture side
// replaces `latest` and sets `changed`; the session takes it when it is ready.
// Fields marked "under lock" are read and written only while holding `lock`,
// and nobody calls out while holding it.

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/Bytes.h"
#include "core/Failure.h"
#include "platform/Geometry.h"
#include "platform/Picture.h"

namespace plimo {

struct Display {
  uint32_t id = 0;  // stable for as long as the screen exists
  Rect bounds;      // in root-window (global desktop) coordinates
  bool primary = false;
  bool operator==(const Display&) const = default;
};

// What capture throws when there is no screen to share.
Failure noScreen();

class ScreenSource {
 public:
  virtual ~ScreenSource() = default;

  // The screens in the system's order; empty when there are none or the
  // display server cannot be reached.
  virtual std::vector<Display> displays() = 0;

  // Stops any running capture, then captures `display` (or the first screen
  // when it no longer exists). `excluding` lists windows to leave out where
  // the system can. Blocks until running or failed. Throws Failure with kind
  // noServer, noDisplay or unsupported and a text for the person at this PC.
  // Call from one thread at a time (the session's).
  virtual void start(const Display& display, bool withAudio, const std::vector<uint32_t>& excluding) = 0;
  // Stops capturing; `latest` is kept. No callback runs once it returns.
  virtual void stop() = 0;

  // Switches sound on or off; off empties the unsent samples, so old sound is
  // never sent when it comes back on.
  void setAudioOn(bool on);

  std::mutex lock;
  PictureRef latest;                       // under lock: newest complete picture
  bool changed = false;                    // under lock: `latest` replaced since taken
  Size size;                               // under lock: picture size, even numbers
  bool audioOn = false;                    // under lock: sound is wanted
  std::vector<float> audioBuffer;          // under lock: samples not yet packed
  std::vector<uint32_t> excludedWindows;   // under lock
  std::optional<Display> display;          // under lock: the screen captured

  // Each 320-byte sound packet, in order, on the capture side's sound thread.
  std::function<void(Bytes)> onAudio;
  // The reason when capture stops by itself (the display server went away),
  // on the capture thread. Set both before `start`.
  std::function<void(std::string)> onStopped;

 protected:
  // For implementations. `wanted` among `screens`, or the first screen when
  // it is gone; throws noScreen() when there are none.
  static const Display& choose(const std::vector<Display>& screens, const Display& wanted);
  // Under lock: the state of a capture just started.
  void began(const Display& shown, Size pictureSize, bool withAudio,
             const std::vector<uint32_t>& excluding);
  // Puts a complete picture in the slot.
  void publish(PictureRef picture);
  // Takes captured samples (16 kHz mono, −1…1) and hands out every full packet.
  void takeSound(std::span<const float> samples);
};

}  // namespace plimo
