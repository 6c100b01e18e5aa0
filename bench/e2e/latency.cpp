// latency: what a helper sees. A helped PC (`plimo --headless`, unattended,
// on its own 1920 x 1080 Xvfb) and a helper with its windows (`plimo` on a
// second 1920 x 1080 Xvfb) meet through plimo-server on loopback. This
// process flips the colour of a rectangle on the helped screen and watches
// the helper's display (XDamage on its root): a change counts as shown when
// the helper's screen first shows the new colour, all on one monotonic
// clock. Both programs mark the picture's stages (PLIMO_STAGES), so each
// millisecond between change and paint is accounted for. For tiles and
// H.264, fitted (the window's first size, smooth) and at original size,
// it prints one JSON object per figure:
//   latency_ms           median, p95, p99 and the changes seen (of --changes)
//   stages_ms            the median of each stage of those changes
//   pictures_per_second  pictures painted in the helper's view a second (for
//                        tiles: updates, of up to 64 tiles each), pictures
//                        the helped PC captured a second, and the CPU share
//                        of one core of each program, while typing and while
//                        scrolling
// The same changes are timed again while the helper sends a 50 MB file,
// then through a common VNC pair (x11vnc and TigerVNC's viewer, where
// installed) on the same two displays.
// Usage: latency [--changes N] [--only tiles|H.264|VNC]
// With PLIMO_BENCH_HELPED_X set, the helped screen is that X display, already
// running, and the helped PC's desktop is the one its environment names:
// latency-wayland shows an X server on a headless GNOME desktop that way.

#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/WorkClock.h"
#include "e2e/HeadlessClient.h"
#include "e2e/NetClient.h"
#include "e2e/Process.h"
#include "e2e/TrustedHelper.h"
#include "platform/TestServers.h"
#include "platform/XTestClient.h"
#include "support/IniFile.h"
// Xlib's macros (Bool, None) after the test headers, which use the names.
#include <X11/extensions/Xdamage.h>

using namespace plimo;
using namespace plimo::e2e;

namespace {

constexpr int kW = 1920, kH = 1080;
// The rectangle that flips on the helped screen.
constexpr int kRectX = 200, kRectY = 150, kRectW = 600, kRectH = 400;
constexpr uint32_t kBackground = 0x3A6EA5, kColours[] = {0xD04020, 0x20A0D0};
// Far enough apart that one picture never shows two changes.
constexpr double kChangeGap = 0.1;
constexpr double kLoadSeconds = 5.0;
const char* const kStages[] = {"wake", "slot", "encoded", "sent", "received", "applied", "requested", "painted"};

bool near(uint32_t a, uint32_t b, int slack) {
  for (int shift : {0, 8, 16})
    if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > slack) return false;
  return true;
}

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

// The helper's display: its pixels and when they change.
class Watched {
 public:
  // Nothing works when `display` cannot be opened: check `open()`.
  explicit Watched(const std::string& display) : x_(XOpenDisplay(display.c_str())) {
    if (!x_) return;
    int error = 0;
    XDamageQueryExtension(x_, &event_, &error);
    damage_ = XDamageCreate(x_, DefaultRootWindow(x_), XDamageReportNonEmpty);
    XSync(x_, False);
  }
  ~Watched() {
    if (!x_) return;
    XDamageDestroy(x_, damage_);
    XCloseDisplay(x_);
  }
  Watched(const Watched&) = delete;
  Watched& operator=(const Watched&) = delete;
  bool open() const { return x_ != nullptr; }

  uint32_t pixel(int px, int py) const {
    XImage* image = XGetImage(x_, DefaultRootWindow(x_), px, py, 1, 1, AllPlanes, ZPixmap);
    if (!image) return 0;
    const uint32_t value = uint32_t(XGetPixel(image, 0, 0)) & 0xFFFFFF;
    XDestroyImage(image);
    return value;
  }
  // The middle of the screen's area in `colour`, once it shows: the median
  // of its pixels, so that a few of the window's own in that colour do not
  // move it.
  bool find(uint32_t colour, int slack) {
    XImage* image = XGetImage(x_, DefaultRootWindow(x_), 0, 0, kW, kH, AllPlanes, ZPixmap);
    if (!image) return false;
    std::vector<double> xs, ys;
    for (int py = 0; py < kH; py += 2)
      for (int px = 0; px < kW; px += 2)
        if (near(uint32_t(XGetPixel(image, px, py)), colour, slack)) xs.push_back(px), ys.push_back(py);
    XDestroyImage(image);
    if (xs.size() < 2000) return false;
    x = int(percentile(xs, 0.5)), y = int(percentile(ys, 0.5));
    return true;
  }
  // Waits until the display is drawn on or `until` passes; true when drawn.
  bool waitDamage(double until) {
    while (true) {
      while (XPending(x_)) {
        XEvent event;
        XNextEvent(x_, &event);
        if (event.type == event_ + XDamageNotify) {
          XDamageSubtract(x_, damage_, None, None);
          return true;
        }
      }
      const double left = until - workSeconds();
      if (left <= 0) return false;
      pollfd fd{ConnectionNumber(x_), POLLIN, 0};
      ::poll(&fd, 1, std::max(1, int(left * 1000)));
    }
  }

  int x = 0, y = 0;  // where the rectangle's middle shows

 private:
  ::Display* x_;
  int event_ = 0;
  Damage damage_ = 0;
};

// Every stage mark of both programs, by stage, in time order.
std::map<std::string, std::vector<double>> readStages(const std::string& path) {
  std::map<std::string, std::vector<double>> marks;
  std::istringstream lines(readFile(path));
  std::string stage;
  double at = 0;
  while (lines >> stage >> at) marks[stage].push_back(at);
  for (auto& [name, times] : marks) std::sort(times.begin(), times.end());
  return marks;
}

double firstFrom(const std::vector<double>& times, double from) {
  auto it = std::lower_bound(times.begin(), times.end(), from);
  return it == times.end() ? 1e300 : *it;
}

// Pictures handed to the view between `from` and `to` that reached the
// window: a paint follows before the next picture. A picture painted twice
// (fast, then smoothed) counts once.
size_t picturesShown(const std::vector<double>& requested, const std::vector<double>& painted, double from,
                     double to) {
  size_t shown = 0;
  for (auto it = std::lower_bound(requested.begin(), requested.end(), from); it != requested.end() && *it < to; ++it) {
    const double next = it + 1 == requested.end() ? 1e300 : *(it + 1);
    if (firstFrom(painted, *it) <= next) ++shown;
  }
  return shown;
}

struct Change {
  double made, shown;
};

// The median time of each stage after the one before it, over the changes
// whose every stage lies between change and paint.
void printStages(const char* name, const char* scale, const std::map<std::string, std::vector<double>>& marks,
                 const std::vector<Change>& changes) {
  std::map<std::string, std::vector<double>> spans;
  for (const Change& c : changes) {
    std::vector<std::pair<std::string, double>> chain;
    double at = c.made;
    for (const char* stage : kStages) {
      auto it = marks.find(stage);
      const double next = it == marks.end() ? 1e300 : firstFrom(it->second, at);
      if (next > c.shown) break;
      chain.emplace_back(stage, next - at);
      at = next;
    }
    if (chain.size() != std::size(kStages)) continue;
    for (auto& [stage, span] : chain) spans[stage].push_back(span * 1000);
    spans["shown"].push_back((c.shown - at) * 1000);
  }
  std::printf("{\"figure\": \"stages_ms\", \"pictures\": \"%s\", \"scale\": \"%s\", \"changes\": %zu", name, scale,
              spans["shown"].size());
  for (const char* stage : kStages) std::printf(", \"to_%s\": %.2f", stage, percentile(spans[stage], 0.5));
  std::printf(", \"to_shown\": %.2f}\n", percentile(spans["shown"], 0.5));
}

struct Run {
  const char* pictures;  // "tiles" or "H.264"
  const char* scale;     // "fit" or "original"
  std::string sending;   // a file the helper sends meanwhile, or none
};

struct Rig {
  ::Display* helped;
  std::string helperDisplay;
  std::string hostID;
  HeadlessClient& helper;  // its home: a kept ID the server trusts
  pid_t hostPid;
  std::string stages;
  std::filesystem::path received;  // where the helped PC saves a file
};

// Flips the rectangle `changes` times, each until the helper's screen shows
// it or the next change is due.
std::vector<Change> flipAndWatch(::Display* helped, Watched& screen, int slack, int changes) {
  std::vector<Change> seen;
  for (int made = 1; made <= changes; ++made) {
    const uint32_t awaited = kColours[made % 2];
    const double at = workSeconds();
    plimo::testing::fillRect(helped, kRectX, kRectY, kRectW, kRectH, awaited);
    const double next = at + kChangeGap;
    bool pending = true;
    while (screen.waitDamage(next)) {
      if (pending && near(screen.pixel(screen.x, screen.y), awaited, slack)) {
        seen.push_back({at, workSeconds()});
        pending = false;
      }
    }
  }
  return seen;
}

void printLatency(const char* pictures, const char* scale, const std::vector<Change>& seen, int changes) {
  std::vector<double> latencies;
  for (const Change& c : seen) latencies.push_back((c.shown - c.made) * 1000);
  std::printf("{\"figure\": \"latency_ms\", \"pictures\": \"%s\", \"scale\": \"%s\", \"median\": %.1f, \"p95\": %.1f, "
              "\"p99\": %.1f, \"seen\": %zu, \"changes\": %d}\n",
              pictures, scale, percentile(latencies, 0.5), percentile(latencies, 0.95), percentile(latencies, 0.99),
              latencies.size(), changes);
}

// The same changes seen through a common VNC pair on the same two displays:
// x11vnc serving the helped screen, TigerVNC's viewer on the helper's.
bool measureVnc(Rig& rig, const std::string& helpedDisplay, int changes, const std::filesystem::path& dir) {
  const std::string server = "/usr/bin/x11vnc", viewer = "/usr/bin/xtigervncviewer";
  if (::access(server.c_str(), X_OK) != 0 || ::access(viewer.c_str(), X_OK) != 0)
    return std::fprintf(stderr, "no x11vnc or xtigervncviewer: the VNC pair is left out\n"), true;
  const std::string port = std::to_string(freePort(SOCK_STREAM));
  Process vncServer(server, {"-display", helpedDisplay, "-rfbport", port, "-localhost", "-nopw", "-forever", "-shared"},
                    dir / "x11vnc.txt");
  if (!vncServer.waitForOutput("PORT=" + port, 20)) return std::fprintf(stderr, "x11vnc did not start\n"), false;
  Watched screen(rig.helperDisplay);
  if (!screen.open()) return false;
  plimo::testing::fillRect(rig.helped, 0, 0, kW, kH, kBackground);
  plimo::testing::fillRect(rig.helped, kRectX, kRectY, kRectW, kRectH, kColours[0]);
  Process vncViewer(viewer, {"-SecurityTypes", "None", "127.0.0.1::" + port}, dir / "vncviewer.txt",
                    {{"DISPLAY", rig.helperDisplay}});
  if (!waitFor([&] { return screen.find(kColours[0], 4); }, 20))
    return std::fprintf(stderr, "the VNC viewer showed nothing:\n%s\n", vncViewer.output().c_str()), false;
  while (screen.waitDamage(workSeconds() + 0.3)) {
  }
  printLatency("VNC", "original", flipAndWatch(rig.helped, screen, 4, changes), changes);
  std::fflush(stdout);
  return true;
}

bool measure(const Run& run, Rig& rig, int changes) {
  IniFile ini(rig.helper.home() / "Plimo.ini");
  ini.load();
  ini.set("Viewer", "Scale", std::string(run.scale).rfind("fit", 0) == 0 ? "0" : "2");
  if (!ini.save()) return std::fprintf(stderr, "cannot write the helper's settings\n"), false;
  std::vector<std::string> args = {"-autoConnect", rig.hostID};
  if (std::string(run.pictures) == "tiles") args.insert(args.end(), {"-pictures", "tiles"});
  if (!run.sending.empty()) args.insert(args.end(), {"-sendFile", run.sending});
  Watched screen(rig.helperDisplay);
  if (!screen.open()) return false;

  plimo::testing::fillRect(rig.helped, 0, 0, kW, kH, kBackground);
  plimo::testing::fillRect(rig.helped, kRectX, kRectY, kRectW, kRectH, kColours[0]);
  Process gui(HeadlessClient::program(), args, rig.helper.home() / "gui.txt",
              {{"PLIMO_HOME", rig.helper.home().string()},
               {"DISPLAY", rig.helperDisplay},
               {"QT_QPA_PLATFORM", "xcb"},
               {"PLIMO_STAGES", rig.stages}});
  const int slack = std::string(run.pictures) == "tiles" ? 4 : 24;
  if (!waitFor([&] { return screen.find(kColours[0], slack); }, 40)) {
    std::fprintf(stderr, "no picture reached the helper's window:\n%s\n", rig.helper.log().c_str());
    return false;
  }
  screen.waitDamage(workSeconds() + 1.0);  // the first full picture settles
  while (screen.waitDamage(workSeconds() + 0.3)) {
  }

  const std::vector<Change> seen = flipAndWatch(rig.helped, screen, slack, changes);
  printLatency(run.pictures, run.scale, seen, changes);
  printStages(run.pictures, run.scale, readStages(rig.stages), seen);
  if (!run.sending.empty()) {
    // Whether the file was crossing: what the helped PC holds of it by now.
    uintmax_t bytes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(rig.received)) bytes += entry.file_size();
    std::printf("{\"figure\": \"received_mb\", \"value\": %.1f}\n", double(bytes) / 1e6);
    return gui.stop(), true;
  }

  // Paints a second and CPU while typing (a character every 50 ms) and while
  // scrolling (a document moving up 4 rows at 60 Hz).
  for (const char* load : {"typing", "scrolling"}) {
    plimo::testing::fillRect(rig.helped, 0, 0, kW, kH, 0xFFFFFF);
    screen.waitDamage(workSeconds() + 0.5);
    const double hostCpu = cpuSeconds(rig.hostPid), helperCpu = cpuSeconds(gui.pid()), began = workSeconds();
    const bool typing = std::string(load) == "typing";
    const double period = typing ? 0.05 : 1.0 / 60;
    for (int step = 0; workSeconds() - began < kLoadSeconds; ++step) {
      if (typing) {
        const int col = step % 100, row = (step / 100) % 40;
        plimo::testing::fillRect(rig.helped, 100 + col * 12, 100 + row * 20, 9, 14,
                                 0x101010 + uint32_t(step % 7) * 0x10);
      } else {
        const int s = DefaultScreen(rig.helped);
        XCopyArea(rig.helped, DefaultRootWindow(rig.helped), DefaultRootWindow(rig.helped),
                  DefaultGC(rig.helped, s), 100, 104, 1200, 796, 100, 100);
        plimo::testing::fillRect(rig.helped, 100, 896, 1200, 4, (step % 3) ? 0xFFFFFF : 0x303030);
      }
      const double next = began + (step + 1) * period;
      while (screen.waitDamage(next)) {
      }
    }
    const double ended = workSeconds(), wall = ended - began;
    auto marks = readStages(rig.stages);
    const auto& captured = marks["slot"];
    std::printf("{\"figure\": \"pictures_per_second\", \"pictures\": \"%s\", \"scale\": \"%s\", \"load\": \"%s\", "
                "\"value\": %.1f, \"captured\": %.1f, \"helped_cpu_share\": %.2f, \"helper_cpu_share\": %.2f}\n",
                run.pictures, run.scale, load,
                double(picturesShown(marks["requested"], marks["painted"], began, ended)) / wall,
                double(std::lower_bound(captured.begin(), captured.end(), ended) -
                       std::lower_bound(captured.begin(), captured.end(), began)) /
                    wall,
                (cpuSeconds(rig.hostPid) - hostCpu) / wall, (cpuSeconds(gui.pid()) - helperCpu) / wall);
  }
  std::fflush(stdout);
  gui.stop();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int changes = 120;
  std::string only;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) == "--changes") changes = std::max(1, std::atoi(argv[i + 1]));
    if (std::string(argv[i]) == "--only") only = argv[i + 1];
  }
  const std::string program = builtProgram("server/plimo-server");
  if (program.empty() || HeadlessClient::program().empty()) {
    std::fprintf(stderr, "plimo-server or plimo is not built in this tree\n");
    return 2;
  }
  testkit::TempDir dir("bench-latency");
  const std::string stages = (dir / "stages.txt").string();
  // Each Xvfb points DISPLAY at itself: the helped PC starts on the first.
  const char* givenX = std::getenv("PLIMO_BENCH_HELPED_X");
  std::optional<plimo::testing::Xvfb> helpedXvfb;
  if (!givenX) helpedXvfb.emplace(kW, kH);
  if (helpedXvfb && !helpedXvfb->running()) return std::fprintf(stderr, "no Xvfb\n"), 2;
  const std::string helpedName = givenX ? givenX : helpedXvfb->name();
  ::Display* helped = XOpenDisplay(helpedName.c_str());
  if (!helped) return 2;
  const uint16_t udp = freePort(SOCK_DGRAM);
  Process server(program, {"--udp-port", std::to_string(udp), "--tcp-ports", "none", "--data", dir / "data"},
                 dir / "server.txt");
  if (!server.waitForOutput("Listening on UDP", 20)) return std::fprintf(stderr, "no server\n"), 1;
  ::setenv("PLIMO_STAGES", stages.c_str(), 1);
  const std::filesystem::path received = dir / "received";
  std::filesystem::create_directories(received);
  HeadlessClient host("bench-host",
                      relayIni(udp, "") + "[Session]\nUnattended=1\n[Files]\nFolder=" + received.string() + "\n");
  host.start();
  ::unsetenv("PLIMO_STAGES");
  if (!host.waitForID(20)) return std::fprintf(stderr, "the helped PC got no ID:\n%s\n", host.log().c_str()), 1;
  // PCs with unattended access let in only helpers the company trusts.
  HeadlessClient helper("bench-helper", relayIni(udp, "") + keptIDIni());
  std::string why;
  if (trustHelper(program, dir / "data", helper, why).empty())
    return std::fprintf(stderr, "the helper could not be trusted:\n%s\n", why.c_str()), 1;
  plimo::testing::Xvfb helperDisplay(kW, kH);
  if (!helperDisplay.running()) return std::fprintf(stderr, "no second Xvfb\n"), 2;
  Rig rig{helped, helperDisplay.name(), host.lastID(), helper, host.pid(), stages, received};
  bool ok = true;
  // The file crosses while the changes are timed: 50 MB take about 18 s.
  const std::string file = (dir / "50 MB").string();
  {
    std::ofstream out(file, std::ios::binary);
    std::vector<char> block(1 << 20);
    for (int i = 0; i < 50; ++i) {
      for (size_t b = 0; b < block.size(); ++b) block[b] = char((b * 131 + size_t(i) * 7) ^ (b >> 9));
      out.write(block.data(), std::streamsize(block.size()));
    }
  }
  for (const Run& run : {Run{"tiles", "fit", ""}, Run{"tiles", "original", ""}, Run{"H.264", "fit", ""},
                         Run{"H.264", "original", ""}, Run{"H.264", "fit, sending 50 MB", file}})
    if (only.empty() || only == run.pictures) ok = measure(run, rig, changes) && ok;
  if (only.empty() || only == "VNC") ok = measureVnc(rig, helpedName, changes, dir.path()) && ok;
  XCloseDisplay(helped);
  host.stop();
  server.stop();
  return ok ? 0 : 1;
}
