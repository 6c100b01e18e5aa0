// What one picture costs the helper's window to paint: a 1080p screen
// fitted to a 1280 x 720 view, with smooth scaling on and off, as the view
// paints it (QPainter on Qt's raster engine, offscreen), whole and after an
// update of two tiles. What smoothing a 1080p picture to 720p costs: Qt's
// bilinear filter against the view's area filter, whole and for two tiles.
// And how many
// pictures a second the view shows while the helped PC scrolls: both
// sessions in this process, the helped PC's screen a private Xvfb captured
// by the X11 capture, scrolled here 60 times a second, as tiles and as H.264.
//
//   QT_QPA_PLATFORM=offscreen bench_ui

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QScrollArea>
#include <QTimer>
#include <cstdlib>
#include <vector>

#include "core/ManualLoop.h"
#include "platform/TestServers.h"
#include "platform/fake/FakePlatform.h"
#include "platform/linux/LinuxPlatform.h"
#include "support/Zlib.h"
#include "testkit/SessionPair.h"
#include "ui/AreaScaler.h"
#include "ui/QtLoop.h"
#include "ui/ScreenView.h"

// X last: its macros would break the headers above.
#include <X11/Xlib.h>

namespace {

// A canvas's picture; the view reads `store`, which the caller keeps.
plimo::TileCanvas::Image desktop(std::shared_ptr<uint8_t[]>& store) {
  constexpr int w = 1920, h = 1080;
  constexpr size_t bytes = size_t(w) * h * 4;
  store = std::make_shared<uint8_t[]>(bytes);
  for (size_t i = 0; i < bytes; ++i) store[i] = uint8_t(i * 2654435761u >> 13);
  return {w, h, store, {}};
}

// Counts the pictures a widget paints.
class PaintCounter final : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

// A view fitted to a 1280 x 720 window, smooth when the bench's argument says.
struct FittedView {
  explicit FittedView(const benchmark::State& state) : view(new plimo::ScreenView(loop, area)) {
    area.resize(1280, 720);
    area.show();
    view->setSmooth(state.range(0) != 0);
  }
  // Until the smoothed picture is ready, off the window's thread.
  static void settle() {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 300) QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  plimo::ManualLoop loop;
  QScrollArea area;
  plimo::ScreenView* view;  // owned by the area
};

void PaintFitted1080pTo720p(benchmark::State& state) {
  FittedView fitted(state);
  auto* view = fitted.view;
  std::shared_ptr<uint8_t[]> canvas;
  view->show(desktop(canvas));
  FittedView::settle();
  QImage target(view->size(), QImage::Format_RGB32);
  for (auto _ : state) {
    view->render(&target);
    benchmark::DoNotOptimize(target.constBits());
  }
  state.SetLabel(view->smoothing() ? "smooth" : "plain");
  state.counters["pictures_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
// Wall time, so that the rate is pictures a second as the helper sees them.
BENCHMARK(PaintFitted1080pTo720p)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// A tile update of a 1080p screen: `tiles` tiles of 64 x 64 noise along a
// line of text from column `at`.
plimo::Bytes typed(int tiles, int at) {
  plimo::Bytes raw;
  for (int v : {1920, 1080, tiles}) plimo::appendLE<uint16_t>(raw, uint16_t(v));
  for (int t = 0; t < tiles; ++t) {
    for (int v : {(at + t) % 30 * 64, 512, 64, 64}) plimo::appendLE<uint16_t>(raw, uint16_t(v));
    for (int i = 0; i < 64 * 64 * 3; ++i) raw.push_back(uint8_t((i + t + at) * 2654435761u >> 13));
  }
  return plimo::Zlib::compress(raw);
}

// What typing costs from the update to the window: two tiles of a 1080p
// screen written into the canvas and the view painted, fitted to 1280 x 720.
void ShowTypedTilesFitted(benchmark::State& state) {
  FittedView fitted(state);
  auto* view = fitted.view;
  plimo::TileCanvas canvas;
  canvas.apply(typed(0, 0));
  view->show(*canvas.image());
  FittedView::settle();
  std::vector<plimo::Bytes> updates;
  for (int i = 0; i < 30; ++i) updates.push_back(typed(2, i));
  PaintCounter counter;
  view->installEventFilter(&counter);
  size_t next = 0;
  for (auto _ : state) {
    canvas.apply(updates[next++ % updates.size()]);
    view->show(*canvas.image());
    QApplication::processEvents();
  }
  if (counter.paints != int(state.iterations())) state.SkipWithError("not painted once per update");
  state.SetLabel(view->smoothing() ? "smooth" : "plain");
}
BENCHMARK(ShowTypedTilesFitted)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// Arg: 0 Qt's bilinear filter (the whole picture, as each paint drew it),
// 1 the area filter on the whole picture, 2 on the fitted part that two typed
// tiles change.
void SmoothFilter1080pTo720p(benchmark::State& state) {
  std::shared_ptr<uint8_t[]> store;
  const plimo::TileCanvas::Image canvas = desktop(store);
  const QImage picture(store.get(), canvas.width, canvas.height, canvas.width * 4, QImage::Format_RGB32);
  QImage fitted(1280, 720, QImage::Format_RGB32);
  const plimo::AreaScaler scaler(picture.size(), fitted.size());
  const QRect part = state.range(0) == 2 ? scaler.fittedArea(QRect(640, 512, 128, 64)) : fitted.rect();
  for (auto _ : state) {
    if (state.range(0) == 0) {
      QPainter painter(&fitted);
      painter.setRenderHint(QPainter::SmoothPixmapTransform);
      painter.drawImage(QRectF(fitted.rect()), picture);
    } else {
      scaler.scale(picture, part, fitted);
    }
    benchmark::DoNotOptimize(fitted.constBits());
  }
  state.SetLabel(state.range(0) == 0 ? "bilinear" : state.range(0) == 1 ? "area, whole" : "area, two tiles");
}
BENCHMARK(SmoothFilter1080pTo720p)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);


// A page of text lines on white, moved up by `kStep` pixels a tick with a
// new line drawn in at the bottom, as a browser or editor scrolls.
class Scroller {
 public:
  static constexpr int kStep = 8;
  explicit Scroller(const std::string& display) : x_(XOpenDisplay(display.c_str())) {
    if (!x_) return;
    w_ = DisplayWidth(x_, DefaultScreen(x_));
    h_ = DisplayHeight(x_, DefaultScreen(x_));
    gc_ = XCreateGC(x_, DefaultRootWindow(x_), 0, nullptr);
    for (int y = 0; y < h_; y += kStep) line(y);
    XSync(x_, False);
  }
  ~Scroller() {
    if (!x_) return;
    XFreeGC(x_, gc_);
    XCloseDisplay(x_);
  }
  bool ok() const { return x_ != nullptr; }
  void tick() {
    Window root = DefaultRootWindow(x_);
    XCopyArea(x_, root, root, gc_, 0, kStep, unsigned(w_), unsigned(h_ - kStep), 0, 0);
    line(h_ - kStep);
    XFlush(x_);
  }

 private:
  void line(int y) {
    Window root = DefaultRootWindow(x_);
    XSetForeground(x_, gc_, 0xFFFFFF);
    XFillRectangle(x_, root, gc_, 0, y, unsigned(w_), kStep);
    // Words of dark grey, a different pattern every line.
    XSetForeground(x_, gc_, 0x303030);
    int x = 40;
    for (unsigned word = ++lines_ * 2654435761u; x < w_ - 200; word = word * 1103515245u + 12345u) {
      const int len = 20 + int(word >> 24) % 90;
      XFillRectangle(x_, root, gc_, x, y + 1, unsigned(len), kStep - 2);
      x += len + 12;
    }
  }
  ::Display* x_;
  GC gc_{};
  int w_ = 0, h_ = 0;
  unsigned lines_ = 0;
};

// Arg: 1 for tiles only, 0 to let the host send H.264.
void PicturesShownWhileTheHelpedPCScrolls(benchmark::State& state) {
  const bool tiles = state.range(0) != 0;
  plimo::testing::Xvfb helped(1920, 1080);  // $DISPLAY points there from here on
  if (!helped.running()) return state.SkipWithError("no Xvfb");
  Scroller scroller(helped.name());
  if (!scroller.ok()) return state.SkipWithError("cannot draw on the Xvfb");
  plimo::QtLoop loop;
  plimo::LinuxPlatform helpedPlatform;
  plimo::FakePlatform helperPlatform;
  QScrollArea area;
  auto* view = new plimo::ScreenView(loop, area);
  area.resize(1280, 720);
  area.show();
  PaintCounter counter;
  view->installEventFilter(&counter);
  plimo::testkit::SessionPair pair(loop, helpedPlatform, helperPlatform, view,
                                   {.link = {.delay = 0.002, .tick = 0.001}, .tilesOnly = tiles, .helper = {}});
  view->setInput(pair.viewer.get());
  auto wait = [](const std::function<bool()>& done, double seconds) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < seconds * 1000) QApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
  };
  if (!wait([&] { return bool(pair.answer); }, 10)) return state.SkipWithError("no consent asked");
  pair.answer(plimo::HostSession::Answer::control);
  if (!wait([&] { return view->remoteWidth() == 1920; }, 10)) return state.SkipWithError("no picture");
  QTimer scroll;
  QObject::connect(&scroll, &QTimer::timeout, [&] { scroller.tick(); });
  scroll.setTimerType(Qt::PreciseTimer);
  scroll.start(1000 / 60);
  wait([] { return false; }, 2);  // the encoders settle on the scrolling
  for (auto _ : state) {
    counter.paints = 0;
    QElapsedTimer clock;
    clock.start();
    wait([] { return false; }, 5);
    state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
    state.counters["pictures_per_s"] = counter.paints / (double(clock.nsecsElapsed()) / 1e9);
  }
  scroll.stop();
  view->setInput(nullptr);
  state.SetLabel(pair.viewer->usingVideo().get() ? "H.264" : "tiles");
}
BENCHMARK(PicturesShownWhileTheHelpedPCScrolls)->Arg(1)->Arg(0)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
