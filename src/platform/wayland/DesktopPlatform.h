#pragma once
// The platform and system facts of the desktop this program runs on: X11's
// or Wayland's (DesktopKind.h), for the executables to hand to the model.

#include <memory>

#include "platform/PlatformFactory.h"
#include "platform/System.h"
#include "platform/wayland/DesktopKind.h"
#include "platform/wayland/WaylandPlatform.h"

namespace plimo {

struct DesktopPlatform {
  DesktopKind kind = DesktopKind::x11;
  std::unique_ptr<System> system;
  std::unique_ptr<PlatformFactory> factory;
};

// `wayland` is used only on a Wayland desktop.
DesktopPlatform desktopPlatform(WaylandPlatform::Settings wayland);

}  // namespace plimo
