// desktop_capture SCENE [seconds]: the capture of this session's desktop,
// X11 or Wayland as plimo would choose it (Wayland through GNOME's own
// interface, as an unattended PC), for one scene: "still" (nothing drawn),
// "typing" (a 250 × 250 area changing 60 times a second), "scrolling" (the
// whole screen) or "pointing" (nothing drawn, the pointer moved 60 times a
// second through the platform's input, as a helper moves it). On X11 the bench draws the scene itself and its drawing
// thread's CPU time is left out; on Wayland a client draws it (see
// wayland-beside-x11). The bench's own thread, which takes the pictures
// every millisecond, is left out too: a desktop that sends fewer pictures
// would otherwise seem to cost more each. Prints one JSON object: pictures
// a second, CPU share of one core, and CPU ms per picture.

#include <X11/Xlib.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/wayland/DesktopPlatform.h"

using namespace plimo;

namespace {

double cpuSeconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Fills a rectangle of the X screen with changing colours, 60 times a second.
void drawX11(int width, int height, const std::atomic<bool>& stop, std::atomic<double>& cpu) {
  ::Display* x = XOpenDisplay(nullptr);
  if (!x) return;
  Window root = DefaultRootWindow(x);
  GC gc = XCreateGC(x, root, 0, nullptr);
  for (unsigned long n = 0; !stop; ++n) {
    XSetForeground(x, gc, (n * 0x102030) & 0xffffff);
    XFillRectangle(x, root, gc, 100, 100, unsigned(width), unsigned(height));
    XSync(x, False);
    std::this_thread::sleep_for(std::chrono::microseconds(16667));
  }
  cpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
  XFreeGC(x, gc);
  XCloseDisplay(x);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string scene = argc > 1 ? argv[1] : "still";
  const double seconds = argc > 2 ? std::stod(argv[2]) : 10.0;
  const auto folder = std::filesystem::temp_directory_path();
  DesktopPlatform desktop = desktopPlatform({folder / "plimo-bench.token", [] { return true; }});
  auto screen = desktop.factory->screenSource();
  auto screens = screen->displays();
  if (screens.empty()) {
    std::fprintf(stderr, "desktop_capture: no screen\n");
    return 1;
  }
  screen->start(screens.front(), {});
  auto pointer = scene == "pointing" ? desktop.factory->inputSink() : nullptr;
  const bool x11 = desktop.kind == DesktopKind::x11;
  std::atomic<bool> stop{false};
  std::atomic<double> drawCpu{0};
  std::thread drawer;
  if (x11 && scene != "still") {
    const bool whole = scene == "scrolling";
    drawer = std::thread(drawX11, whole ? 1720 : 250, whole ? 880 : 250, std::cref(stop), std::ref(drawCpu));
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));  // the first pictures and the drawing settle
  screen->slot.take(false);
  const double cpuStart = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID), ownStart = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
  const auto wallStart = std::chrono::steady_clock::now();
  size_t pictures = 0;
  auto nextMove = wallStart;
  for (int step = 0; std::chrono::steady_clock::now() - wallStart < std::chrono::duration<double>(seconds);) {
    if (pointer && std::chrono::steady_clock::now() >= nextMove) {
      const double angle = ++step * 0.05;
      pointer->moveTo(960 + int(300 * std::cos(angle)), 540 + int(300 * std::sin(angle)));
      nextMove += std::chrono::microseconds(16667);
    }
    if (screen->slot.take(false)) ++pictures;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
  const double own = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - ownStart;
  stop = true;
  if (drawer.joinable()) drawer.join();
  const double cpu = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuStart - drawCpu - own;
  screen->stop();
  std::printf("{\"figure\": \"desktop_capture\", \"desktop\": \"%s\", \"scene\": \"%s\", \"pictures_per_second\": %.1f, "
              "\"cpu_share_of_one_core\": %.3f, \"cpu_ms_per_picture\": %.2f}\n",
              x11 ? "X11" : "Wayland", scene.c_str(), double(pictures) / wall, cpu / wall,
              pictures ? cpu / double(pictures) * 1000 : 0.0);
}
