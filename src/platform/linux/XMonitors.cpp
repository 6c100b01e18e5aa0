#include "platform/linux/XMonitors.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace plimo {

std::vector<Display> listMonitors(_XDisplay* x) {
  std::vector<Display> screens;
  Window root = DefaultRootWindow(x);
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  // Monitors arrived with RandR 1.5.
  if (XRRQueryExtension(x, &eventBase, &errorBase) && XRRQueryVersion(x, &major, &minor) &&
      (major > 1 || (major == 1 && minor >= 5))) {
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(x, root, True, &count);
    for (int i = 0; i < count; ++i) {
      const auto& m = monitors[i];
      if (m.width <= 0 || m.height <= 0) continue;
      screens.push_back({uint32_t(m.name), {double(m.x), double(m.y), double(m.width), double(m.height)},
                         m.primary != 0});
    }
    if (monitors) XRRFreeMonitors(monitors);
  }
  if (screens.empty()) {
    int screen = DefaultScreen(x);
    screens.push_back({0, {0, 0, double(DisplayWidth(x, screen)), double(DisplayHeight(x, screen))}, true});
  }
  return screens;
}

}  // namespace plimo
