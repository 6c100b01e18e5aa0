#pragma once
// The application with its windows: the model on Qt's loop, the main
// window, and the helped PC's windows. Returns the exit status.

#include <string>
#include <vector>

namespace plimo {

int runWindows(int argc, char** argv, const std::vector<std::string>& args);

}  // namespace plimo
