#pragma once
// One screen-and-input share granted by a Wayland desktop: its monitors as
// PipeWire streams, and input played into them. Two kinds: the portal's
// (a person at the PC agrees in the desktop's own dialog) and GNOME's own
// remote-desktop interface (no dialog, for unattended PCs).
//
// Owner: the Wayland screen source, which shares it with the input sink
// while it captures; before, what asks for it (ShareAsking.h). `start` on
// one thread, then the rest on the session's thread; `cancel` from any;
// `onClosed` on the bus's thread.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/ScreenSource.h"

namespace plimo {

class DesktopShare {
 public:
  struct Stream {
    uint32_t node = 0;    // the PipeWire node
    Display display;      // where it is on the desktop
    std::string handle;   // how input names it: a stream path or number
  };

  virtual ~DesktopShare() = default;

  // Asks for every monitor (the portal: those the person picks). Blocks
  // until granted; throws Failure with a text for the person at this PC.
  virtual std::vector<Stream> start() = 0;
  // Ends a `start` that waits for the desktop (or the person): it throws.
  virtual void cancel() = 0;
  // Once started: tells `onClosed` from now on, on a thread of its own.
  virtual void watch() = 0;
  // A connection to the PipeWire daemon for the streams (the caller owns
  // it), or -1 for the default daemon.
  virtual int pipeWireFd() = 0;

  // Positions are in `stream`'s pixels; buttons are evdev codes; axis 0 is
  // vertical, 1 horizontal.
  virtual void pointerMotion(const Stream& stream, double x, double y) = 0;
  virtual void pointerButton(int evdevCode, bool down) = 0;
  virtual void pointerAxisDiscrete(int axis, int steps) = 0;
  virtual void keysym(uint32_t keysym, bool down) = 0;

  // The desktop ended the share (the person stopped it, or the desktop went
  // away). Set before `watch`.
  std::function<void(const std::string& reason)> onClosed;
};

}  // namespace plimo
