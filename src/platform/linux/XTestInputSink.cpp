#include "platform/linux/XTestInputSink.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace plimo {

std::unique_ptr<XTestInputSink> XTestInputSink::open() {
  auto x = XConnection::open();
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (!XTestQueryExtension(x->get(), &eventBase, &errorBase, &major, &minor))
    throw Failure(Failure::Kind::noXTest, "The X server does not offer XTEST, so input cannot be played");
  return std::unique_ptr<XTestInputSink>(new XTestInputSink(std::move(x)));
}

XTestInputSink::XTestInputSink(std::unique_ptr<XConnection> x) : x_(std::move(x)) {}

XTestInputSink::~XTestInputSink() {
  if (x_->dead()) return;
  for (unsigned code : bound_) {
    KeySym none = NoSymbol;
    XChangeKeyboardMapping(x_->get(), int(code), 1, &none, 1);
  }
  XSync(x_->get(), False);
}

void XTestInputSink::moveTo(int x, int y) {
  if (x_->dead()) return;
  XTestFakeMotionEvent(x_->get(), -1, x, y, CurrentTime);
  XFlush(x_->get());
}

void XTestInputSink::button(int button, bool down) {
  if (x_->dead()) return;
  XTestFakeButtonEvent(x_->get(), unsigned(button), down ? True : False, CurrentTime);
  XFlush(x_->get());
}

void XTestInputSink::key(uint32_t keysym, bool down) {
  if (x_->dead()) return;
  unsigned code = keycode(keysym);
  if (code == 0) return;
  XTestFakeKeyEvent(x_->get(), code, down ? True : False, CurrentTime);
  XFlush(x_->get());
}

unsigned XTestInputSink::keycode(uint32_t keysym) {
  if (auto known = keycodes_.find(keysym); known != keycodes_.end()) return known->second;
  ::Display* x = x_->get();
  unsigned code = XKeysymToKeycode(x, keysym);
  // Played as is only where the key gives this keysym without modifiers; a
  // keypad digit on a key that gives Insert without Num Lock would not.
  if (code == 0 || XkbKeycodeToKeysym(x, KeyCode(code), 0, 0) != keysym) {
    code = spareKeycode();
    if (code == 0) return 0;
    KeySym sym = keysym;
    XChangeKeyboardMapping(x, int(code), 1, &sym, 1);
    XSync(x, False);
    bound_.push_back(code);
  }
  keycodes_[keysym] = code;
  return code;
}

unsigned XTestInputSink::spareKeycode() {
  ::Display* x = x_->get();
  int low = 0, high = 0;
  XDisplayKeycodes(x, &low, &high);
  int perCode = 0;
  KeySym* map = XGetKeyboardMapping(x, KeyCode(low), high - low + 1, &perCode);
  if (!map) return 0;
  unsigned found = 0;
  // From the top: the highest codes are the ones real keyboards never send.
  for (int code = high; code >= low && !found; --code) {
    bool empty = true;
    for (int i = 0; i < perCode; ++i) empty = empty && map[(code - low) * perCode + i] == NoSymbol;
    bool taken = false;
    for (unsigned b : bound_) taken = taken || b == unsigned(code);
    if (empty && !taken) found = unsigned(code);
  }
  XFree(map);
  return found;
}

}  // namespace plimo
