#include "platform/wayland/DesktopPlatform.h"

#include "platform/linux/LinuxSystem.h"
#include "platform/wayland/WaylandSystem.h"

namespace plimo {

DesktopPlatform desktopPlatform(WaylandPlatform::Settings wayland) {
  DesktopPlatform chosen;
  chosen.kind = currentDesktopKind();
  if (chosen.kind == DesktopKind::wayland) {
    chosen.system = std::make_unique<WaylandSystem>();
    chosen.factory = std::make_unique<WaylandPlatform>(std::move(wayland));
  } else {
    chosen.system = std::make_unique<LinuxSystem>();
    chosen.factory = std::make_unique<LinuxPlatform>();
  }
  return chosen;
}

}  // namespace plimo
