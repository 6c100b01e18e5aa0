#pragma once
// The helper's mouse, wheel and keyboard as input events: what the view
// holds pressed on the other PC, so that it can let go of everything when it
// loses the keyboard, and the wheel's fractions of a step.
//
// Owner: the view; main thread only. Events go out only while the remote
// input has control; the held sets are kept (and emptied by releaseAll) in
// any case, and so is the pointer position.

#include <cstdint>
#include <optional>
#include <set>
#include <span>

#include "viewer/RemoteInput.h"
#include "viewer/ScreenGeometry.h"

namespace plimo {

class ViewInput {
 public:
  // The mouse buttons of the wire.
  enum Button : int32_t { left = 0, right = 1, middle = 2 };

  // Where events go; none drops them. Not owned.
  void setRemote(RemoteInput* remote) { remote_ = remote; }
  // The Super key is sent as Ctrl when on, else as the left Windows key.
  void setSuperAsControl(bool on) { superAsControl_ = on; }

  void move(RemotePoint at);
  // A press sends a move to `at` first.
  void button(Button button, bool down, RemotePoint at);
  // `lines`: notches of a line-based wheel; `points`: a precise device's
  // delta (used when not zero).
  void wheel(double lines, double points, RemotePoint at);
  // A local key (X keysym); keys the partner protocol does not know are dropped.
  void key(uint32_t keysym, bool down);
  // Downs in order, then ups in reverse; not recorded as held.
  void combo(std::span<const int32_t> codes);
  // Ups for every held key (at the last pointer position) and button.
  void releaseAll();

  // The Windows virtual-key code a local key travels as.
  std::optional<int32_t> codeFor(uint32_t keysym) const;
  std::optional<RemotePoint> lastMove() const { return lastMove_; }

 private:
  void send(uint8_t kind, RemotePoint at, int32_t data);
  RemotePoint keyPoint() const { return lastMove_.value_or(RemotePoint{}); }

  RemoteInput* remote_ = nullptr;
  bool superAsControl_ = true;
  std::optional<RemotePoint> lastMove_;
  std::set<int32_t> downKeys_;
  std::set<int32_t> downButtons_;
  double wheelRest_ = 0;
};

}  // namespace plimo
