// latency: a helped PC (`plimo --headless`, unattended, on its own 1920 x 1080
// Xvfb) and a helper in this process (the application model, its viewer
// session and a view without a window) meet through plimo-server on
// loopback. An X client of this process flips the colour of a rectangle on
// the helped screen, stamped on the monotonic clock; the view stamps the
// picture that first shows the new colour on the same clock. Prints one JSON
// object per figure, for tiles and for H.264:
//   latency_ms           median, p95 and the number of changes seen (of 120)
//   pictures_per_second  pictures the helper was shown a second, and the CPU
//                        share of one core of the helped PC's process and of
//                        the helper's, while typing and while scrolling
// Usage: latency [--changes N]

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/AppModel.h"
#include "core/AsioLoop.h"
#include "e2e/HeadlessClient.h"
#include "e2e/NetClient.h"
#include "e2e/Process.h"
#include "e2e/TrustedHelper.h"
#include "platform/TestServers.h"
#include "platform/XTestClient.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/LinuxSystem.h"
#include "protocol/net/NetSocketFactory.h"
#include "support/IniFile.h"
#include "viewer/LatestPicture.h"

using namespace plimo;
using namespace plimo::e2e;

namespace {

using Clock = std::chrono::steady_clock;
double seconds() { return std::chrono::duration<double>(Clock::now().time_since_epoch()).count(); }

constexpr int kW = 1920, kH = 1080;
// The rectangle that flips, and the pixel the view reads.
constexpr int kRectX = 200, kRectY = 150, kRectW = 600, kRectH = 400;
constexpr int kProbeX = kRectX + kRectW / 2, kProbeY = kRectY + kRectH / 2;
constexpr uint32_t kColours[] = {0xD04020, 0x20A0D0};
// A change every 100 ms: far apart enough that one picture never shows two.
constexpr double kChangeGap = 0.1;
constexpr double kLoadSeconds = 5.0;

double cpuOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string field;
  double ticks = 0;
  for (int i = 1; in >> field && i <= 15; ++i)
    if (i == 14 || i == 15) ticks += std::atof(field.c_str());
  return ticks / double(sysconf(_SC_CLK_TCK));
}

double ownCpu() {
  rusage use{};
  getrusage(RUSAGE_SELF, &use);
  return double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) + 1e-6 * double(use.ru_utime.tv_usec + use.ru_stime.tv_usec);
}

bool close(uint32_t a, uint32_t b, int slack) {
  for (int shift : {0, 8, 16})
    if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > slack) return false;
  return true;
}

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

// Runs the loop for `span` seconds.
void runFor(AsioLoop& loop, double span) {
  auto stop = loop.after(span, [&] { loop.stop(); });
  loop.run();
}

struct Session {
  const char* name;
  bool video;
};

bool measure(const Session& s, uint16_t udp, const std::string& serverProgram, const std::string& dataDir,
             ::Display* x, int changes) {
  HeadlessClient host("bench-host", relayIni(udp, "") + "[Session]\nUnattended=1\n");
  host.start();
  if (!host.waitForID(20)) return std::fprintf(stderr, "the helped PC got no ID:\n%s\n", host.log().c_str()), false;
  // PCs with unattended access let in only helpers the company trusts.
  HeadlessClient helper("bench-helper", relayIni(udp, "") + keptIDIni());
  std::string why;
  if (trustHelper(serverProgram, dataDir, helper, why).empty())
    return std::fprintf(stderr, "the helper could not be trusted:\n%s\n", why.c_str()), false;
  IniFile ini(helper.home() / "Plimo.ini");
  ini.load();
  UserDefaults defaults;
  defaults.set("autoConnect", host.lastID());
  if (!s.video) defaults.set("pictures", "tiles");

  AsioLoop loop;
  LinuxSystem system;
  NetSocketFactory sockets(loop);
  LinuxPlatform platform;
  LatestPicture view;
  AppModel model(loop, system, sockets, ini, defaults);
  model.sessions().setViewerDisplay(&view);
  // The platform reaches the sessions through the host's setting; nobody here is served.
  model.sessions().setHost(platform, [](HostSession&, HostSession::AnswerFn answer) { answer(HostSession::Answer::deny); });

  plimo::testing::fillRect(x, 0, 0, kW, kH, 0x3A6EA5);
  plimo::testing::fillRect(x, kRectX, kRectY, kRectW, kRectH, kColours[0]);
  auto waitFirst = loop.every(0.05, [&] {
    if (view.pixel(kProbeX, kProbeY) && close(*view.pixel(kProbeX, kProbeY), kColours[0], 24)) loop.stop();
  });
  auto giveUp = loop.after(40, [&] { loop.stop(); });
  loop.run();
  waitFirst.reset();
  giveUp.reset();
  if (view.shown() == 0) {
    std::fprintf(stderr, "no picture reached the helper:\n%s\n", helper.log().c_str());
    return false;
  }
  runFor(loop, 1.0);  // the first full picture settles

  // Latency of each change.
  std::vector<double> latencies;
  double changedAt = 0;
  uint32_t awaited = 0;
  bool pending = false;
  const int slack = s.video ? 24 : 0;
  view.setOnShown([&] {
    auto p = view.pixel(kProbeX, kProbeY);
    if (pending && p && close(*p, awaited, slack)) {
      latencies.push_back((seconds() - changedAt) * 1000);
      pending = false;
    }
  });
  int made = 0;
  auto flip = loop.every(kChangeGap, [&] {
    if (made == changes) return loop.stop();
    awaited = kColours[(++made) % 2];
    pending = true;
    changedAt = seconds();
    plimo::testing::fillRect(x, kRectX, kRectY, kRectW, kRectH, awaited);
  });
  loop.run();
  flip.reset();
  view.setOnShown(nullptr);
  std::printf("{\"figure\": \"latency_ms\", \"pictures\": \"%s\", \"median\": %.1f, \"p95\": %.1f, \"seen\": %zu, "
              "\"changes\": %d}\n",
              s.name, percentile(latencies, 0.5), percentile(latencies, 0.95), latencies.size(), changes);

  // Pictures a second and CPU while typing (a character every 50 ms) and
  // while scrolling (a document moving up 4 rows at 60 Hz).
  for (const char* load : {"typing", "scrolling"}) {
    plimo::testing::fillRect(x, 0, 0, kW, kH, 0xFFFFFF);
    runFor(loop, 0.5);
    const int shown = view.shown();
    const double hostCpu = cpuOf(host.pid()), helperCpu = ownCpu(), began = seconds();
    int step = 0;
    Timer work;
    if (std::string(load) == "typing") {
      work = loop.every(0.05, [&] {
        const int col = step % 100, row = (step / 100) % 40;
        plimo::testing::fillRect(x, 100 + col * 12, 100 + row * 20, 9, 14, 0x101010 + uint32_t(step % 7) * 0x10);
        ++step;
      });
    } else {
      work = loop.every(1.0 / 60, [&] {
        const int screen = DefaultScreen(x);
        XCopyArea(x, DefaultRootWindow(x), DefaultRootWindow(x), DefaultGC(x, screen), 100, 104, 1200, 796, 100, 100);
        plimo::testing::fillRect(x, 100, 896, 1200, 4, (step++ % 3) ? 0xFFFFFF : 0x303030);
      });
    }
    runFor(loop, kLoadSeconds);
    work.reset();
    const double wall = seconds() - began;
    std::printf("{\"figure\": \"pictures_per_second\", \"pictures\": \"%s\", \"load\": \"%s\", \"value\": %.1f, "
                "\"helped_cpu_share\": %.2f, \"helper_cpu_share\": %.2f}\n",
                s.name, load, (view.shown() - shown) / wall, (cpuOf(host.pid()) - hostCpu) / wall,
                (ownCpu() - helperCpu) / wall);
  }
  std::fflush(stdout);
  model.terminate();
  runFor(loop, 0.3);  // the goodbyes leave
  host.stop();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int changes = 120;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::string(argv[i]) == "--changes") changes = std::max(1, std::atoi(argv[i + 1]));
  const std::string program = builtProgram("server/plimo-server");
  if (program.empty() || HeadlessClient::program().empty()) {
    std::fprintf(stderr, "plimo-server or plimo is not built in this tree\n");
    return 2;
  }
  plimo::testing::Xvfb display(kW, kH);
  if (!display.running()) return std::fprintf(stderr, "no Xvfb\n"), 2;
  ::Display* x = XOpenDisplay(display.name().c_str());
  if (!x) return 2;
  testkit::TempDir dir("bench-latency");
  const uint16_t udp = freePort(SOCK_DGRAM);
  Process server(program, {"--udp-port", std::to_string(udp), "--tcp-ports", "none", "--data", dir / "data"},
                 dir / "server.txt");
  if (!server.waitForOutput("Listening on UDP", 20)) return std::fprintf(stderr, "no server\n"), 1;
  bool ok = true;
  for (const Session& s : {Session{"tiles", false}, Session{"H.264", true}}) ok = measure(s, udp, program, dir / "data", x, changes) && ok;
  XCloseDisplay(x);
  server.stop();
  return ok ? 0 : 1;
}
