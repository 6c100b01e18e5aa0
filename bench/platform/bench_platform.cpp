// Screen capture costs on a private 1920×1080 Xvfb: a full MIT-SHM read of
// the screen into a picture, a picture for a pointer that only moved, and a
// capture tick on a screen where nothing happens.

#include <benchmark/benchmark.h>

#include "platform/TestServers.h"  // tests/platform: a private Xvfb
#include "platform/linux/XGrabber.h"

using namespace plimo;

namespace {

struct Screen {
  testing::Xvfb server{1920, 1080};
  std::unique_ptr<XGrabber> grabber;

  Screen() {
    if (!server.running()) return;
    try {
      grabber = XGrabber::open({0, 0, 1920, 1080});
    } catch (const Failure&) {
      // No grabber: every bench reports the missing server.
    }
  }
};

Screen& screen() {
  static Screen shared;
  return shared;
}

void BM_Grab1080p(benchmark::State& state) {
  auto& s = screen();
  if (!s.grabber) return state.SkipWithError("no Xvfb");
  for (auto _ : state) benchmark::DoNotOptimize(s.grabber->picture(true));
  state.SetBytesProcessed(int64_t(state.iterations()) * 1920 * 1080 * 4);
}
BENCHMARK(BM_Grab1080p)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PointerOnly1080p(benchmark::State& state) {
  auto& s = screen();
  if (!s.grabber) return state.SkipWithError("no Xvfb");
  s.grabber->picture(true);
  for (auto _ : state) benchmark::DoNotOptimize(s.grabber->picture());
}
BENCHMARK(BM_PointerOnly1080p)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_IdleCapture(benchmark::State& state) {
  auto& s = screen();
  if (!s.grabber) return state.SkipWithError("no Xvfb");
  s.grabber->poll();
  s.grabber->picture();
  int changed = 0;
  for (auto _ : state) changed += s.grabber->poll();
  state.counters["changed"] = changed;
}
BENCHMARK(BM_IdleCapture)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
