#pragma once
// Which desktop this session is, from its environment: XDG_SESSION_TYPE
// where the login manager set it, else which display a program would reach.
// Xwayland's DISPLAY on a Wayland desktop shows only X programs, so a
// Wayland session is never captured through it.

namespace plimo {

enum class DesktopKind { x11, wayland };

// The values of XDG_SESSION_TYPE and WAYLAND_DISPLAY (null when unset);
// anything else is X11, through DISPLAY, whether it is reachable or not (the
// X platform then says what is missing).
DesktopKind desktopKind(const char* sessionType, const char* waylandDisplay);
// This process's.
DesktopKind currentDesktopKind();

}  // namespace plimo
