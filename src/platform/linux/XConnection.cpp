#include "platform/linux/XConnection.h"

#include <X11/Xlib.h>

#include <mutex>

namespace plimo {

namespace {

// Replies are read by the thread that waits for them, so the thread that
// made the request sees its own errors.
thread_local int threadErrors = 0;

int countError(::Display*, XErrorEvent*) {
  ++threadErrors;
  return 0;
}

// The per-connection exit handler does the rest; returning here is allowed
// since libX11 1.7.
int quietIOError(::Display*) { return 0; }

void installHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    XInitThreads();
    XSetErrorHandler(countError);
    XSetIOErrorHandler(quietIOError);
  });
}

}  // namespace

std::unique_ptr<XConnection> XConnection::open() {
  installHandlers();
  ::Display* display = XOpenDisplay(nullptr);
  if (!display) throw unreachable();
  return std::unique_ptr<XConnection>(new XConnection(display));
}

Failure XConnection::unreachable() { return Failure(Failure::Kind::noServer, "The X display cannot be reached"); }

XConnection::XConnection(_XDisplay* display) : display_(display) {
  XSetIOErrorExitHandler(display_, &XConnection::lost, this);
}

// A display whose server went away is not closed: Xlib can wait forever on a
// connection another thread saw fail (the process is ending, or carries on
// without it).
XConnection::~XConnection() {
  if (!dead_) XCloseDisplay(display_);
}

void XConnection::lost(_XDisplay*, void* self) {
  static_cast<XConnection*>(self)->dead_ = true;
}

int XConnection::errors() { return threadErrors; }

}  // namespace plimo
