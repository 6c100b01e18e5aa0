#include "platform/wayland/DesktopKind.h"

#include <cstdlib>
#include <string_view>

namespace plimo {

DesktopKind desktopKind(const char* sessionType, const char* waylandDisplay) {
  auto set = [](const char* value) { return value && *value; };
  const std::string_view type = set(sessionType) ? sessionType : "";
  if (type == "wayland") return DesktopKind::wayland;
  if (type == "x11") return DesktopKind::x11;
  // "tty" or unset (started by hand, over ssh, from a service): what a
  // program here would show its windows on.
  return set(waylandDisplay) ? DesktopKind::wayland : DesktopKind::x11;
}

DesktopKind currentDesktopKind() {
  return desktopKind(std::getenv("XDG_SESSION_TYPE"), std::getenv("WAYLAND_DISPLAY"));
}

}  // namespace plimo
