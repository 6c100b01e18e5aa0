#include "ui/GlowFrame.h"

#include <QPainter>
#include <QPainterPath>
#include <QScreen>

namespace plimo {

namespace {
constexpr QColor kGlow{34, 168, 69};
}

GlowFrame::GlowFrame(QScreen& screen) {
  setObjectName("glow");
  setWindowTitle("Plimo");
  setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowTransparentForInput |
                 Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint);
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setGeometry(screen.geometry());
  // Without a compositor a see-through window would be black: shape the
  // window to the frame itself instead (the rounded corners' outer part).
  QPainterPath outer, inner;
  outer.addRoundedRect(QRectF(rect()), kRadius, kRadius);
  inner.addRoundedRect(QRectF(rect()).adjusted(kLine, kLine, -kLine, -kLine), kRadius - kLine, kRadius - kLine);
  setMask(QRegion(outer.subtracted(inner).toFillPolygon().toPolygon()));
}

void GlowFrame::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), kGlow);
}

}  // namespace plimo
