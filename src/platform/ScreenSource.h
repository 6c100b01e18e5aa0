#pragma once
// What the host session captures from: the screens, and one screen's
// pictures in a single slot (PictureSlot.h). Sound is apart (SoundCapture.h).
//
// Owner: the host session. `displays`, `start`, `stop` and the read-only view
// from its thread; the slot from any; `onStopped` on the capture thread.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/Failure.h"
#include "platform/Geometry.h"
#include "platform/PictureSlot.h"

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
  virtual void start(const Display& display, const std::vector<uint32_t>& excluding) = 0;
  // Stops capturing; the slot keeps its last picture. No callback runs once
  // it returns.
  virtual void stop() = 0;

  // The screen captured since the last start, and the windows left out.
  const std::optional<Display>& display() const { return display_; }
  const std::vector<uint32_t>& excludedWindows() const { return excluded_; }

  PictureSlot slot;

  // The reason when capture stops by itself (the display server went away),
  // on the capture thread; must not call `stop`. Set before `start`.
  std::function<void(std::string)> onStopped;
  // The person at this PC ended the sharing with the desktop's own controls
  // (a Wayland desktop's indicator), which ends the session as a Stop would;
  // on the capture thread, as onStopped.
  std::function<void(std::string)> onSharingEnded;

 protected:
  // For implementations. `wanted` among `screens`, or the first screen when
  // it is gone; throws noScreen() when there are none.
  static const Display& choose(const std::vector<Display>& screens, const Display& wanted);
  // The state of a capture just started: pictures of `pictureSize` from now.
  void began(const Display& shown, Size pictureSize, const std::vector<uint32_t>& excluding);

 private:
  std::optional<Display> display_;
  std::vector<uint32_t> excluded_;
};

}  // namespace plimo
