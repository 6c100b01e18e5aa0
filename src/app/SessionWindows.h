#pragma once
// What the model asks of the windows around a helper's session on this PC.
// The windowed program implements it; a headless one has none.
//
// Owner: the program, which outlives the model's sessions. Main thread only.

#include <cstdint>
#include <functional>
#include <vector>

namespace plimo {

class HostSession;

class SessionWindows {
 public:
  virtual ~SessionWindows() = default;

  // Consent was given: the bar at the top of the screen and a glow around
  // each shared screen. `stop` ends the session. `session` lives until
  // closeAll.
  virtual void showRunning(HostSession& session, std::function<void()> stop) = 0;
  // The windows above, for a capture that can leave windows out.
  virtual std::vector<uint32_t> excludedWindowIDs() const = 0;
  // Closes every window of the session (the consent panel too); called
  // before the session goes.
  virtual void closeAll() = 0;
  // The main window makes way once a helper is in, and comes back when the
  // screen cannot be shared, to say why.
  virtual void setMainMinimised(bool minimised) = 0;
  // The person answers the helper's file offers and requests here; else
  // offers go only into [Files] Folder and requests are declined.
  virtual bool answersFiles() const { return false; }
};

}  // namespace plimo
