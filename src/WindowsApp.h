#pragma once
// The program with its windows, assembled beside main.cpp: the model on Qt's
// loop with the desktop's platform (X11 or Wayland), the main window, the helped PC's and the
// helper's windows. Returns the exit status.

#include <string>
#include <vector>

namespace plimo {

int runWindows(int argc, char** argv, const std::vector<std::string>& args);

}  // namespace plimo
