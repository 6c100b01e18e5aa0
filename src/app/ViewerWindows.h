#pragma once
// What the model asks of the helper's window while this PC helps another.
// The windowed program implements it; a headless helper has none and shows
// its pictures in the view given to AppModel::setViewerDisplay.
//
// Owner: the program, which outlives the model's sessions. Main thread only.

#include <functional>
#include <string>

namespace plimo {

class ScreenDisplay;
class ViewerSession;

class ViewerWindows {
 public:
  // What the window shows besides the session's own state.
  struct Facts {
    std::string partnerName;  // from the recent list; empty when unknown
    bool viaRelay = false;    // the partner path goes through the server
    bool superAsControl = false;  // the helper's Super key is sent as Ctrl, not as Super
  };

  virtual ~ViewerWindows() = default;

  // Opens the window on `session`, which lives until closeViewer. Returns the
  // view the session draws into, valid until closeViewer. `disconnect` ends
  // the session: the window calls it once when the helper closes it or
  // presses Disconnect (after letting go of every held key and button), and
  // never after closeViewer.
  virtual ScreenDisplay& showViewer(ViewerSession& session, const Facts& facts,
                                    std::function<void()> disconnect) = 0;
  // The session ends: held keys and buttons are let go, the window closes
  // without calling `disconnect`. Called before the session is closed;
  // nothing when no window is open.
  virtual void closeViewer() = 0;
  // The helper answers the helped PC's file offers here; else they go only
  // into [Files] Folder.
  virtual bool answersFiles() const { return false; }
};

}  // namespace plimo
