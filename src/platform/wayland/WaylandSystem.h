#pragma once
// The system facts of a Wayland desktop: who and where as on X11, and
// whether the desktop offers a way to share its screen and play input.

#include "platform/linux/LinuxSystem.h"

namespace plimo {

class WaylandSystem final : public System {
 public:
  SystemInfo info() const override { return linux_.info(); }
  // The portal or GNOME's own remote-desktop interface is on the session bus.
  bool canRecordScreen() const override;
  // The same share plays input.
  bool canControl() const override { return canRecordScreen(); }

 private:
  LinuxSystem linux_;
};

}  // namespace plimo
