#include "platform/wayland/WaylandSystem.h"

#include "platform/wayland/MutterShare.h"
#include "platform/wayland/PortalShare.h"

namespace plimo {

bool WaylandSystem::canRecordScreen() const {
  try {
    Bus bus;
    return PortalShare::available(bus) || MutterShare::available(bus);
  } catch (const Failure&) {
    return false;
  }
}

}  // namespace plimo
