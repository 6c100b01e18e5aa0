#pragma once
// The other PC's screen in the helper's window: draws every picture the
// viewer session hands over, fitted with black bars or at original size
// inside its scroll area (panned by holding the pointer near an edge), and
// turns the helper's mouse, wheel and keys into input events.
//
// While it has the keyboard focus it grabs the keyboard, so that shortcuts of
// this desktop reach the other PC; losing focus, hiding or closing lets go
// of the grab and of every key and button held there.
//
// Owner: the helper's window. Main thread only. Timers run on `loop`.

#include <QImage>
#include <QWidget>
#include <functional>
#include <span>

#include "core/EventLoop.h"
#include "ui/SmoothFit.h"
#include "viewer/ScreenDisplay.h"
#include "viewer/ViewInput.h"

class QLabel;
class QScrollArea;

namespace plimo {

class ScreenView final : public QWidget, public ScreenDisplay {
 public:
  // Puts itself into `area` as its widget.
  ScreenView(EventLoop& loop, QScrollArea& area);
  ~ScreenView() override;

  void show(const TileCanvas::Image& image) override;
  void show(PictureRef picture, int width, int height) override;
  using QWidget::show;

  // Where input goes (none drops it); not owned.
  void setInput(RemoteInput* remote) { input_.setRemote(remote); }
  void setSuperAsControl(bool on) { input_.setSuperAsControl(on); }
  void setScale(ViewScale scale);
  void setSmooth(bool on);
  void sendCombo(std::span<const int32_t> codes) { input_.combo(codes); }
  void releaseAll() { input_.releaseAll(); }
  // F11 and Ctrl+Super+F; those keys are not sent.
  std::function<void()> onToggleFullScreen;

  ViewScale scale() const { return scale_; }
  int remoteWidth() const { return remoteW_; }
  int remoteHeight() const { return remoteH_; }
  ViewRect destination() const;
  // Smoothing is used for this paint: fit, smooth on, and drawn more than 3 %
  // smaller than the picture. The picture is then shrunk by area averaging,
  // drawn with Qt's bilinear filter only until that is ready.
  bool smoothing() const;
  bool keyboardGrabbed() const { return grabbed_; }

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void leaveEvent(QEvent* event) override;
  bool focusNextPrevChild(bool) override { return false; }  // Tab is for the other PC

 private:
  void setRemoteSize(int width, int height);
  // Paints again the part of the view that shows `area` of the picture.
  void updateRemote(const TileCanvas::Area& area);
  // Paints again the part of the view that shows `fitted` of the smoothed picture.
  void updateFitted(const QRect& fitted);
  void placeInArea();
  std::optional<RemotePoint> map(QPointF at) const;
  void mouseButton(QMouseEvent* event, bool down);
  void pan(QPointF at);
  void panTick();
  void grabKeyboard(int triesLeft);
  void releaseKeyboard();

  EventLoop& loop_;
  QScrollArea& area_;
  ViewInput input_;
  TileCanvas::Image canvas_;  // tiles: the session's canvas, read in place
  QImage video_;              // video: the decoder's picture, held till the next
  int remoteW_ = 0, remoteH_ = 0;
  ViewScale scale_ = ViewScale::fit;
  bool smooth_ = true;
  SmoothFit fit_;
  int panX_ = 0, panY_ = 0;
  Timer panTimer_;
  bool grabbed_ = false;
  Timer grabRetry_, hintTimer_;
  QLabel* hint_;
  uint32_t swallowed_ = 0;  // a key whose press toggled full screen
};

}  // namespace plimo
