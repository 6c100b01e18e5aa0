// What one picture costs the helper's window to paint: a 1080p screen
// fitted to a 1280 x 720 view, with smooth scaling on and off, as the view
// paints it (QPainter on Qt's raster engine, offscreen).
//
//   QT_QPA_PLATFORM=offscreen bench_ui

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPainter>
#include <QScrollArea>
#include <cstdlib>

#include "core/ManualLoop.h"
#include "ui/ScreenView.h"

namespace {

plimo::TileCanvas::Image desktop() {
  constexpr int w = 1920, h = 1080;
  auto pixels = std::make_shared<plimo::Bytes>(size_t(w) * h * 4);
  for (size_t i = 0; i < pixels->size(); ++i) (*pixels)[i] = uint8_t(i * 2654435761u >> 13);
  return {w, h, pixels};
}

void PaintFitted1080pTo720p(benchmark::State& state) {
  plimo::ManualLoop loop;
  QScrollArea area;
  auto* view = new plimo::ScreenView(loop, area);
  area.resize(1280, 720);
  area.show();
  view->setSmooth(state.range(0) != 0);
  view->show(desktop());
  QApplication::processEvents();
  QImage target(view->size(), QImage::Format_RGB32);
  for (auto _ : state) {
    view->render(&target);
    benchmark::DoNotOptimize(target.constBits());
  }
  state.SetLabel(view->smoothing() ? "smooth" : "plain");
  state.counters["pictures_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(PaintFitted1080pTo720p)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
