// Screen capture costs on a private 1920×1080 Xvfb: a full MIT-SHM read of
// the screen into a picture, a picture for a pointer that only moved, and a
// capture tick on a screen where nothing happens; and the pictures a second
// the capturer gives while the pointer never stops (its cap is 60).

#include <X11/Xlib.h>
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/TestServers.h"  // tests/platform: a private Xvfb
#include "platform/linux/ScreenCapturer.h"
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

void BM_CapturerPicturesASecondMovingPointer(benchmark::State& state) {
  auto& s = screen();
  if (!s.grabber) return state.SkipWithError("no Xvfb");
  ScreenCapturer capturer;
  auto screens = capturer.displays();
  if (screens.empty()) return state.SkipWithError("no screen");
  capturer.start(screens[0], {});
  std::atomic<bool> moving{true};
  std::thread mover([&] {
    ::Display* x = XOpenDisplay(nullptr);
    for (int i = 0; moving && x; ++i) {
      XWarpPointer(x, None, DefaultRootWindow(x), 0, 0, 0, 0, 100 + i % 400, 100);
      XSync(x, False);
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    if (x) XCloseDisplay(x);
  });
  int64_t pictures = 0;
  auto began = std::chrono::steady_clock::now();
  for (auto _ : state) {
    std::this_thread::sleep_for(std::chrono::microseconds(500));
    if (capturer.slot.take(false)) ++pictures;
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  moving = false;
  mover.join();
  capturer.stop();
  state.counters["pictures_per_second"] = double(pictures) / seconds;
}
BENCHMARK(BM_CapturerPicturesASecondMovingPointer)->Iterations(4000)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
