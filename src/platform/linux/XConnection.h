#pragma once
// One Xlib connection that never takes the process down: protocol errors are
// counted instead of printed and fatal, and a lost server marks the
// connection dead instead of calling exit(). Use one connection from one
// thread at a time.

#include <atomic>
#include <memory>

#include "core/Failure.h"

struct _XDisplay;

namespace plimo {

class XConnection {
 public:
  // Connects to $DISPLAY. Throws unreachable() when no X server answers.
  static std::unique_ptr<XConnection> open();
  // Failure::Kind::noServer: the server cannot be reached, or went away.
  static Failure unreachable();
  ~XConnection();
  XConnection(const XConnection&) = delete;
  XConnection& operator=(const XConnection&) = delete;

  _XDisplay* get() const { return display_; }
  // The server went away; every further request is a no-op.
  bool dead() const { return dead_.load(); }

  // Protocol errors seen on the calling thread so far; compare around an
  // XSync to learn whether the requests in between failed.
  static int errors();

 private:
  explicit XConnection(_XDisplay* display);
  static void lost(_XDisplay* display, void* self);

  _XDisplay* display_;
  std::atomic<bool> dead_{false};
};

}  // namespace plimo
