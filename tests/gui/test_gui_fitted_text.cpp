// Small terminal text of a 1080p screen fitted to the helper's view: the area
// filter keeps it closer to the picture's true means than Qt's bilinear one
// (side-by-side shots of both in gui-shots), a change is scaled exactly where
// it is, a video picture is scaled only where it differs from the one before,
// and the view shows the newest picture once its worker has it.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <array>
#include <cmath>

#include "core/ManualLoop.h"
#include "gui/Shots.h"
#include "ui/AreaScaler.h"
#include "ui/PictureChange.h"
#include "ui/ScreenView.h"

namespace plimo {
namespace {

using testing::shotPath;

// Lines of a shell session in 12 px DejaVu Sans Mono, light on dark.
void drawTerminal(QImage& image, int seed, QRect within = {}) {
  QPainter painter(&image);
  if (within.isEmpty()) within = image.rect();
  painter.setClipRect(within);
  painter.fillRect(within, QColor(24, 24, 24));
  QFont font("DejaVu Sans Mono");
  font.setPixelSize(12);
  painter.setFont(font);
  painter.setPen(QColor(210, 210, 210));
  for (int y = 13, line = seed; y < image.height(); y += 15, ++line)
    painter.drawText(4, y,
                     QString("%1 ada@pc:~/src$ grep -rn \"fitted\" ui/ | sort -k2 | head -%2 && make -j2 "
                             "test_gui && ./run --filter=Fitted* --repeat=%1   # line %1")
                         .arg(line)
                         .arg(line % 97));
}

// Each channel's exact mean over the area each fitted pixel covers.
QImage boxReference(const QImage& picture, QSize fitted) {
  const int w = picture.width(), h = picture.height(), fw = fitted.width(), fh = fitted.height();
  auto weights = [](int from, int to, int d, int i) {
    const double begin = double(d) * from / to, end = double(d + 1) * from / to;
    return std::max(0.0, std::min(end, i + 1.0) - std::max(begin, double(i))) * to / from;
  };
  std::vector<std::array<double, 3>> across(size_t(fw) * size_t(h));
  for (int y = 0; y < h; ++y) {
    const QRgb* line = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
    for (int x = 0; x < fw; ++x)
      for (int i = x * w / fw; i < std::min(w, (x + 1) * w / fw + 1); ++i) {
        const double wt = weights(w, fw, x, i);
        auto& sum = across[size_t(y) * size_t(fw) + size_t(x)];
        sum[0] += wt * qRed(line[i]), sum[1] += wt * qGreen(line[i]), sum[2] += wt * qBlue(line[i]);
      }
  }
  QImage out(fitted, QImage::Format_RGB32);
  for (int y = 0; y < fh; ++y)
    for (int x = 0; x < fw; ++x) {
      std::array<double, 3> sum{};
      for (int j = y * h / fh; j < std::min(h, (y + 1) * h / fh + 1); ++j)
        for (int c = 0; c < 3; ++c)
          sum[size_t(c)] += weights(h, fh, y, j) * across[size_t(j) * size_t(fw) + size_t(x)][size_t(c)];
      out.setPixel(x, y, qRgb(int(std::lround(sum[0])), int(std::lround(sum[1])), int(std::lround(sum[2]))));
    }
  return out;
}

struct Error {
  double mean = 0;
  int most = 0;
};
Error compare(const QImage& a, const QImage& b) {
  Error e;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      for (int d : {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q)}) {
        e.mean += std::abs(d);
        e.most = std::max(e.most, std::abs(d));
      }
    }
  e.mean /= 3.0 * a.width() * a.height();
  return e;
}

QImage bilinear(const QImage& picture, QSize fitted) {
  QImage out(fitted, QImage::Format_RGB32);
  QPainter painter(&out);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(QRectF(out.rect()), picture);
  return out;
}

QImage areaScaled(const QImage& picture, QSize fitted) {
  QImage out(fitted, QImage::Format_RGB32);
  AreaScaler(picture.size(), fitted).scale(picture, out.rect(), out);
  return out;
}

TEST(FittedText, TheAreaFilterIsTheTrueMeanAndScalesAChangeWhereItIs) {
  QImage picture(1920, 1080, QImage::Format_RGB32);
  drawTerminal(picture, 0);
  for (QSize fitted : {QSize(1280, 720), QSize(1273, 716)}) {
    SCOPED_TRACE(fitted.width());
    const QImage reference = boxReference(picture, fitted);
    const QImage smooth = bilinear(picture, fitted);
    QImage area = areaScaled(picture, fitted);
    const Error bilinearError = compare(smooth, reference), areaError = compare(area, reference);
    EXPECT_LE(areaError.most, 2);
    EXPECT_LT(areaError.mean * 10, bilinearError.mean) << areaError.mean << " " << bilinearError.mean;
    if (fitted.width() == 1280) {
      ASSERT_TRUE(smooth.save(shotPath("fitted-text-bilinear")));
      ASSERT_TRUE(area.save(shotPath("fitted-text-area")));
      // A corner of each, three times larger, bilinear on the left.
      QImage sideBySide(2 * 3 * 320 + 8, 3 * 120, QImage::Format_RGB32);
      sideBySide.fill(Qt::red);
      QPainter painter(&sideBySide);
      painter.drawImage(QRect(0, 0, 960, 360), smooth, QRect(0, 0, 320, 120));
      painter.drawImage(QRect(968, 0, 960, 360), area, QRect(0, 0, 320, 120));
      painter.end();
      ASSERT_TRUE(sideBySide.save(shotPath("fitted-text-side-by-side")));
    }
    // A new line typed: only the fitted pixels that read it change, and they
    // come out as a whole new fitted picture would.
    QImage changed = picture;
    const QRect typed(300, 493, 410, 15);
    drawTerminal(changed, 7, typed);
    const AreaScaler scaler(picture.size(), fitted);
    const QRect part = scaler.fittedArea(typed);
    EXPECT_TRUE(scaler.pictureArea(part).contains(typed));
    const QImage before = area;
    scaler.scale(changed, part, area);
    EXPECT_EQ(area, areaScaled(changed, fitted));
    int outside = 0;
    for (int y = 0; y < area.height(); ++y)
      for (int x = 0; x < area.width(); ++x) outside += !part.contains(x, y) && area.pixel(x, y) != before.pixel(x, y);
    EXPECT_EQ(outside, 0);
    EXPECT_NE(area.copy(part), before.copy(part));
  }
}

TEST(FittedText, AVideoPictureChangesOnlyWhereItsPixelsDiffer) {
  const QImage before = [] {
    QImage image(320, 200, QImage::Format_RGB32);
    image.fill(QColor(30, 60, 90));
    return image;
  }();
  struct Case {
    const char* name;
    std::vector<QPoint> changed;
    QSize size;
    QRect expected;
  };
  const Case cases[] = {
      {"nothing", {}, {320, 200}, {}},
      {"top left pixel", {{0, 0}}, {320, 200}, {0, 0, 1, 1}},
      {"bottom right pixel", {{319, 199}}, {320, 200}, {319, 199, 1, 1}},
      {"two apart", {{10, 150}, {300, 20}}, {320, 200}, QRect(QPoint(10, 20), QPoint(300, 150))},
      {"a row's ends", {{0, 7}, {319, 7}}, {320, 200}, {0, 7, 320, 1}},
      {"another size", {}, {320, 201}, {0, 0, 320, 201}},
  };
  for (const Case& c : cases) {
    QImage after = before.copy(QRect(QPoint(), c.size));
    if (c.size != before.size()) after.fill(QColor(30, 60, 90));
    for (QPoint p : c.changed) after.setPixel(p, qRgb(31, 60, 90));
    EXPECT_EQ(changedArea(before, after), c.expected) << c.name;
  }
}

TEST(FittedText, TheViewShowsTheNewestPictureAreaFiltered) {
  ManualLoop loop;
  QScrollArea area;
  auto* view = new ScreenView(loop, area);
  area.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  area.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  area.resize(1280, 720);
  area.show();
  constexpr int w = 1920, h = 1080;
  auto store = std::make_shared<uint8_t[]>(size_t(w) * h * 4);
  QImage canvas(store.get(), w, h, w * 4, QImage::Format_RGB32);
  // What the window shows, as painted on its own.
  auto onScreen = [&] {
    return area.screen()->grabWindow(area.winId()).toImage().convertToFormat(QImage::Format_RGB32).copy(area.rect());
  };
  auto shown = [&](const QImage& expected) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000) {
      QApplication::processEvents(QEventLoop::AllEvents, 10);
      if (onScreen() == expected) return true;
    }
    return false;
  };
  // Whole pictures, each painted while the worker may still be on the one
  // before.
  for (int seed : {0, 1, 2}) {
    drawTerminal(canvas, seed);
    view->show(TileCanvas::Image{w, h, store, {0, 0, w, h}});
    QApplication::processEvents();
  }
  ASSERT_TRUE(view->smoothing());
  EXPECT_TRUE(shown(areaScaled(canvas, {1280, 720})));
  // A new size while the worker is on the old one.
  drawTerminal(canvas, 3);
  view->show(TileCanvas::Image{w, h, store, {0, 0, w, h}});
  QApplication::processEvents();
  area.resize(960, 540);
  EXPECT_TRUE(shown(areaScaled(canvas, {960, 540})));
  // A typed line is scaled at once.
  const QRect typed(64, 512, 128, 64);
  drawTerminal(canvas, 9, typed);
  view->show(TileCanvas::Image{w, h, store, {typed.x(), typed.y(), typed.width(), typed.height()}});
  QApplication::processEvents();
  EXPECT_EQ(onScreen(), areaScaled(canvas, {960, 540}));
}

}  // namespace
}  // namespace plimo
