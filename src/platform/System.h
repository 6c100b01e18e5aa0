#pragma once
// What the application asks of the system it runs on: who and where it is,
// and whether it may capture the screen and play input into it.
// Called on the main thread.

#include <string>

namespace plimo {

struct SystemInfo {
  std::string fullUserName;  // the profile name's default; the login when unknown
  std::string loginName;
  std::string hostName;
  std::string osName;     // e.g. "Debian GNU/Linux"
  std::string osVersion;  // e.g. "12 (bookworm)"
};

class System {
 public:
  virtual ~System() = default;
  virtual SystemInfo info() const = 0;
  // An X11 display is reachable (screen capture can work).
  virtual bool canRecordScreen() const = 0;
  // The X server offers XTEST (input can be played).
  virtual bool canControl() const = 0;
};

}  // namespace plimo
