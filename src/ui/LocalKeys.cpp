#include "ui/LocalKeys.h"

#include <QGuiApplication>
#include <QKeyEvent>

// X last: its macros would break Qt's headers.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace plimo {

uint32_t localKeysym(const QKeyEvent& event) {
  const uint32_t given = event.nativeVirtualKey();
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  ::Display* display = x11 ? x11->display() : nullptr;
  const quint32 code = event.nativeScanCode();
  if (!display || code < 8 || code > 255) return given;
  // The keyboard group (the layout in use) is in bits 13 and 14 of the state.
  const unsigned group = (event.nativeModifiers() >> 13) & 3;
  KeySym sym = XkbKeycodeToKeysym(display, KeyCode(code), group, 0);
  if (sym >= XK_KP_Home && sym <= XK_KP_Delete) sym = XkbKeycodeToKeysym(display, KeyCode(code), group, 1);
  return sym == NoSymbol ? given : uint32_t(sym);
}

}  // namespace plimo
