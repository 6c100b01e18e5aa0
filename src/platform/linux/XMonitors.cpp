#include "platform/linux/XMonitors.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>

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
  // Without a primary output set, the screen at the desktop's origin (where
  // the panels of most desktops go) serves as the main one.
  if (std::none_of(screens.begin(), screens.end(), [](const Display& d) { return d.primary; })) {
    auto origin = std::find_if(screens.begin(), screens.end(),
                               [](const Display& d) { return d.bounds.x == 0 && d.bounds.y == 0; });
    (origin != screens.end() ? *origin : screens.front()).primary = true;
  }
  return screens;
}

}  // namespace plimo
