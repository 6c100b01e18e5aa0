#include "ui/ScreenView.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QWindow>

#include "core/StageLog.h"
#include "ui/LocalKeys.h"
#include "ui/PictureChange.h"

namespace plimo {

namespace {
constexpr uint32_t kF11 = 0xffc8;
// Window managers hold the keyboard during Alt+Tab: a grab asked for at that
// moment fails, and one of the next few succeeds.
constexpr int kGrabTries = 5;
constexpr double kGrabRetry = 0.1;
constexpr double kHintSeconds = 4;

template <typename Keep>
QImage wrap(const uint8_t* data, int width, int height, qsizetype stride, Keep keep) {
  auto* held = new Keep(std::move(keep));
  return QImage(
      data, width, height, stride, QImage::Format_RGB32, [](void* p) { delete static_cast<Keep*>(p); }, held);
}
}  // namespace

ScreenView::ScreenView(EventLoop& loop, QScrollArea& area)
    : loop_(loop), area_(area), fit_([this](const QRect& fitted) { updateFitted(fitted); }) {
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setPalette(QPalette(Qt::black));
  setAutoFillBackground(true);
  area_.setBackgroundRole(QPalette::Dark);
  area_.setPalette(QPalette(Qt::black));
  area_.setFrameShape(QFrame::NoFrame);
  area_.setAlignment(Qt::AlignLeft | Qt::AlignTop);
  area_.setWidget(this);
  hint_ = new QLabel(tr("Keys go to the other PC. Click outside the picture to use them here."), this);
  hint_->setStyleSheet("background: rgba(0,0,0,170); color: white; padding: 6px; border-radius: 6px;");
  hint_->hide();
  placeInArea();
}

ScreenView::~ScreenView() = default;

void ScreenView::show(const TileCanvas::Image& image) {
  if (image.width <= 0 || image.height <= 0) return;
  // The same canvas as before: only what the update wrote is painted again.
  const bool same = canvas_.width == image.width && canvas_.height == image.height;
  canvas_ = image;
  video_ = QImage();
  setRemoteSize(image.width, image.height);
  const TileCanvas::Area changed = same ? image.changed : TileCanvas::Area{0, 0, image.width, image.height};
  fit_.changed(QRect(changed.x, changed.y, changed.width, changed.height));
  if (same) {
    updateRemote(image.changed);
  } else {
    update();
  }
  stageMark("requested");
}

void ScreenView::show(PictureRef picture, int width, int height) {
  if (!picture || width <= 0 || height <= 0) return;
  // Decoders pad their pictures: show only the screen's top-left part.
  int w = std::min(width, picture->width), h = std::min(height, picture->height);
  if (w <= 0 || h <= 0 || picture->stride < w * 4 || picture->pixels.size() < size_t(picture->stride) * size_t(h))
    return;
  canvas_ = {};
  QImage next = wrap(picture->pixels.data(), w, h, picture->stride, picture);
  // A smoothed picture is scaled again only where it changed. Finding where
  // costs more than painting an unscaled picture whole (1.7 against 0.5 ms
  // at 1080p), so that one is painted whole.
  const bool same = video_.size() == next.size() && smoothing();
  const QRect changed = same ? changedArea(video_, next) : next.rect();
  video_ = std::move(next);
  setRemoteSize(w, h);
  fit_.changed(changed);
  if (same) {
    updateRemote({changed.x(), changed.y(), changed.width(), changed.height()});
  } else {
    update();
  }
  stageMark("requested");
}

void ScreenView::setRemoteSize(int width, int height) {
  bool resized = width != remoteW_ || height != remoteH_;
  remoteW_ = width;
  remoteH_ = height;
  if (resized) placeInArea();
}

void ScreenView::updateRemote(const TileCanvas::Area& area) {
  ViewRect d = destination();
  if (d.empty() || area.width <= 0 || area.height <= 0) return;
  const double sx = d.width / remoteW_, sy = d.height / remoteH_;
  // A pixel more on each side: smoothing blends each drawn pixel from its
  // neighbours in the picture.
  update(QRectF(d.x + area.x * sx, d.y + area.y * sy, area.width * sx, area.height * sy)
             .toAlignedRect()
             .adjusted(-1, -1, 1, 1));
}

void ScreenView::updateFitted(const QRect& fitted) {
  ViewRect d = destination();
  const double ratio = devicePixelRatioF();
  update(QRectF(d.x + fitted.x() / ratio, d.y + fitted.y() / ratio, fitted.width() / ratio, fitted.height() / ratio)
             .toAlignedRect()
             .adjusted(-1, -1, 1, 1));
}

void ScreenView::setScale(ViewScale scale) {
  if (scale == scale_) return;
  scale_ = scale;
  panX_ = panY_ = 0;
  panTimer_.reset();
  placeInArea();
  update();
}

void ScreenView::setSmooth(bool on) {
  if (on == smooth_) return;
  smooth_ = on;
  update();
}

void ScreenView::placeInArea() {
  // Fit: the view is the visible area and never scrolls. Original: it is the
  // remote screen's size and the area scrolls over it.
  bool original = scale_ == ViewScale::original && remoteW_ > 0;
  area_.setWidgetResizable(!original);
  if (original) resize(remoteW_, remoteH_);
}

ViewRect ScreenView::destination() const {
  return destinationRect(scale_, width(), height(), remoteW_, remoteH_);
}

bool ScreenView::smoothing() const {
  ViewRect d = destination();
  return smooth_ && scale_ == ViewScale::fit && !d.empty() && d.width * devicePixelRatioF() < 0.97 * remoteW_;
}

void ScreenView::paintEvent(QPaintEvent*) {
  // After the painter: the picture is then in the window's buffer.
  struct Painted {
    ~Painted() { stageMark("painted"); }
  } painted;
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  ViewRect d = destination();
  // The canvas is read in place and held only for this paint, so that the
  // session can let it go when the screen changes size.
  const auto canvas = canvas_.pixels.lock();
  const QImage image = canvas ? QImage(canvas.get(), canvas_.width, canvas_.height, qsizetype(canvas_.width) * 4,
                                       QImage::Format_RGB32)
                              : video_;
  if (d.empty() || image.isNull()) return;
  const QRectF target(d.x, d.y, d.width, d.height);
  if (!smoothing()) {
    fit_.drop();
  } else {
    const double ratio = devicePixelRatioF();
    const QSize size(qRound(d.width * ratio), qRound(d.height * ratio));
    if (const QImage* fitted = fit_.fitted(image, size, !canvas)) return painter.drawImage(target, *fitted);
  }
  painter.setRenderHint(QPainter::SmoothPixmapTransform, smoothing());
  painter.drawImage(target, image);
}

std::optional<RemotePoint> ScreenView::map(QPointF at) const {
  return remotePoint(destination(), at.x(), at.y(), remoteW_, remoteH_);
}

void ScreenView::mouseMoveEvent(QMouseEvent* event) {
  if (auto at = map(event->position())) input_.move(*at);
  if (event->buttons() == Qt::NoButton) pan(event->position());
}

void ScreenView::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  mouseButton(event, true);
}

void ScreenView::mouseReleaseEvent(QMouseEvent* event) { mouseButton(event, false); }

void ScreenView::mouseButton(QMouseEvent* event, bool down) {
  auto at = map(event->position());
  if (!at) return;
  // The wire knows three buttons; the others stay here.
  switch (event->button()) {
    case Qt::LeftButton: return input_.button(ViewInput::left, down, *at);
    case Qt::RightButton: return input_.button(ViewInput::right, down, *at);
    case Qt::MiddleButton: return input_.button(ViewInput::middle, down, *at);
    default: return;
  }
}

void ScreenView::wheelEvent(QWheelEvent* event) {
  // Alt and the wheel move around a picture larger than the window.
  if (scale_ == ViewScale::original && (event->modifiers() & Qt::AltModifier)) return event->ignore();
  auto at = map(event->position());
  if (!at) return;
  input_.wheel(event->angleDelta().y() / 120.0, event->pixelDelta().y(), *at);
}

bool ScreenView::event(QEvent* event) {
  // Shortcuts of the window (menus, the toolbar) must not take keys meant
  // for the other PC.
  if (event->type() == QEvent::ShortcutOverride) {
    event->accept();
    return true;
  }
  return QWidget::event(event);
}

void ScreenView::keyPressEvent(QKeyEvent* event) {
  uint32_t sym = localKeysym(*event);
  bool superHeld = event->modifiers() & Qt::MetaModifier;
  if (sym == kF11 || ((sym == 'f' || sym == 'F') && superHeld && (event->modifiers() & Qt::ControlModifier))) {
    swallowed_ = sym;
    if (onToggleFullScreen && !event->isAutoRepeat()) onToggleFullScreen();
    return;
  }
  // X repeats a held key as release and press pairs: the presses go on as
  // further key downs, the releases are dropped.
  input_.key(sym, true);
}

void ScreenView::keyReleaseEvent(QKeyEvent* event) {
  if (event->isAutoRepeat()) return;
  uint32_t sym = localKeysym(*event);
  if (sym == swallowed_ && sym != 0) {
    swallowed_ = 0;
    return;
  }
  input_.key(sym, false);
}

void ScreenView::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  grabKeyboard(kGrabTries);
}

void ScreenView::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  releaseKeyboard();
  input_.releaseAll();
}

void ScreenView::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  releaseKeyboard();
  input_.releaseAll();
}

void ScreenView::grabKeyboard(int triesLeft) {
  QWindow* window = this->window()->windowHandle();
  if (!window || !hasFocus()) return;
  if (window->setKeyboardGrabEnabled(true)) {
    grabbed_ = true;
    grabRetry_.reset();
    hint_->adjustSize();
    // The view may be larger than the visible area: the hint goes to the
    // visible part's bottom-left corner.
    QPoint corner = mapFrom(area_.viewport(), QPoint(12, area_.viewport()->height() - hint_->height() - 12));
    hint_->move(corner);
    hint_->show();
    hint_->raise();
    hintTimer_ = loop_.after(kHintSeconds, [this] { hint_->hide(); });
    return;
  }
  if (triesLeft > 1) grabRetry_ = loop_.after(kGrabRetry, [this, triesLeft] { grabKeyboard(triesLeft - 1); });
}

void ScreenView::releaseKeyboard() {
  grabRetry_.reset();
  hintTimer_.reset();
  hint_->hide();
  if (!grabbed_) return;
  grabbed_ = false;
  if (QWindow* window = this->window()->windowHandle()) window->setKeyboardGrabEnabled(false);
}

void ScreenView::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  panX_ = panY_ = 0;
  panTimer_.reset();
}

void ScreenView::pan(QPointF at) {
  if (scale_ != ViewScale::original) return;
  QScrollBar* h = area_.horizontalScrollBar();
  QScrollBar* v = area_.verticalScrollBar();
  QSize visible = area_.viewport()->size();
  panX_ = panStep(at.x(), h->value(), h->value() + visible.width());
  panY_ = panStep(at.y(), v->value(), v->value() + visible.height());
  if (panX_ == 0 && panY_ == 0) return panTimer_.reset();
  if (!panTimer_) panTimer_ = loop_.every(kPanPeriod, [this] { panTick(); });
}

void ScreenView::panTick() {
  if (panX_ == 0 && panY_ == 0) return panTimer_.reset();
  // The scroll bars keep the visible area between 0 and view size − visible size.
  QScrollBar* h = area_.horizontalScrollBar();
  QScrollBar* v = area_.verticalScrollBar();
  h->setValue(h->value() + int(kPanPoints) * panX_);
  v->setValue(v->value() + int(kPanPoints) * panY_);
}

}  // namespace plimo
