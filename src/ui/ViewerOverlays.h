#pragma once
// What lies over the helper's picture: the notice until the first picture
// (with the check number to compare, and the helped PC's newest chat line,
// which says why when its screen cannot be shared) or while paused, the secure-screen banner, the
// rendering badge and the live badge (path, round trip once the helper's
// input has timed one, pictures a second, how they are drawn). None of them
// takes the mouse: clicks reach the picture.
//
// Owner: ViewerWindow; the session outlives it. Main thread only; the live
// badge counts on `loop`.

#include <QString>
#include <vector>

#include "core/EventLoop.h"
#include "core/Observable.h"

class QGridLayout;
class QLabel;
class QWidget;

namespace plimo {

class ViewerSession;

class ViewerOverlays {
 public:
  // How often the live badge counts the pictures shown.
  static constexpr double kLivePeriod = 1.0;

  // Puts its widgets into cell (0, 0) of `stage`, above what is there.
  ViewerOverlays(EventLoop& loop, ViewerSession& session, QGridLayout& stage, bool viaRelay);
  ~ViewerOverlays();
  ViewerOverlays(const ViewerOverlays&) = delete;
  ViewerOverlays& operator=(const ViewerOverlays&) = delete;

  // The session goes: stop counting its pictures.
  void stop();

 private:
  void showWaiting();
  void showRendering();
  void showLive();

  ViewerSession& session_;
  const bool viaRelay_;
  QWidget* waiting_;
  QLabel *waitingTitle_, *check_, *partnerSaid_, *banner_, *rendering_, *live_;
  int lastShown_ = 0;
  int perSecond_ = 0;
  Timer liveTimer_;
  std::vector<Subscription> watching_;
};

}  // namespace plimo
