#pragma once
// The screens of an X display: its RandR monitors, or the whole root window
// where RandR lists none.

#include <vector>

#include "platform/ScreenSource.h"

struct _XDisplay;

namespace plimo {

// Each monitor's id is the atom of its name, stable while the server runs.
std::vector<Display> listMonitors(_XDisplay* display);

}  // namespace plimo
