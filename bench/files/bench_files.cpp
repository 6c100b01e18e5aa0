// bench_files: a file each way at once between two `plimo --headless`
// processes through plimo-server on loopback, the helped one on a 1280 x 720
// Xvfb whose screen changes 30 times a second, over the direct link and
// relayed (the helper's UDP goes nowhere, so it reaches the server by TCP
// and the server relays). Prints one JSON object per figure:
//   files_rate_MBps           from the receiver's part file appearing to its
//                             final name, per path and direction
//   files_pictures_per_second the helper's pictures a second (its 10 s
//                             statistics line) without a transfer and during one
// Usage: bench_files [--megabytes N]

#include <X11/Xlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <regex>
#include <string>
#include <thread>

#include "e2e/HeadlessClient.h"
#include "e2e/NetClient.h"
#include "e2e/Process.h"
#include "platform/TestServers.h"

using namespace plimo;
using namespace plimo::e2e;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

void writeRandom(const fs::path& path, size_t bytes, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string data(bytes, '\0');
  for (auto& c : data) c = char(rng());
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(data.data(), 1, data.size(), f);
  std::fclose(f);
}

// Seconds from `name`.part appearing in `folder` to `name` appearing, or -1.
struct Watch {
  fs::path folder;
  std::string name;
  double started = -1, done = -1;
  void poll(double now) {
    std::error_code e;
    if (started < 0 && (fs::exists(folder / (name + ".part"), e) || fs::exists(folder / name, e))) started = now;
    if (done < 0 && fs::exists(folder / name, e)) done = now;
  }
};

// The last "Viewer: N pictures/s" of the helper's log.
double picturesPerSecond(const std::string& log) {
  static const std::regex line("Viewer: ([0-9.]+) pictures/s");
  double last = -1;
  for (auto it = std::sregex_iterator(log.begin(), log.end(), line); it != std::sregex_iterator(); ++it)
    last = std::stod((*it)[1]);
  return last;
}

struct Rig {
  std::string server;
  uint16_t udp, tcp;
  std::string display;
  ::Display* x;
  fs::path dir;
};

// Flips a rectangle of the helped screen until `until` says stop.
template <typename Until>
void changeScreenWhile(::Display* x, Until until) {
  const Window root = DefaultRootWindow(x);
  GC gc = XCreateGC(x, root, 0, nullptr);
  for (int i = 0; until(); ++i) {
    XSetForeground(x, gc, (i & 1) ? 0xff3030 : 0x3030ff);
    XFillRectangle(x, root, gc, 100 + (i % 50) * 4, 100, 400, 300);
    XFlush(x);
    std::this_thread::sleep_for(std::chrono::milliseconds(33));
  }
  XFreeGC(x, gc);
}

bool run(const Rig& rig, const std::string& path, bool relayed, size_t bytes, bool withFiles) {
  const std::string tag = path + (withFiles ? "-files" : "-idle");
  const fs::path helped = rig.dir / (tag + "-helped"), helper = rig.dir / (tag + "-helper");
  fs::create_directories(helped);
  fs::create_directories(helper);
  const std::string tcp = std::to_string(rig.tcp);
  HeadlessClient host("bench-host-" + tag, relayIni(rig.udp, tcp) + "[Files]\nFolder=" + helped.string() + "\n");
  const uint16_t nowhere = freePort(SOCK_DGRAM);
  HeadlessClient help("bench-helper-" + tag, relayIni(relayed ? nowhere : rig.udp, tcp) +
                                                 "[Files]\nFolder=" + helper.string() + "\n");
  host.env = {{"DISPLAY", rig.display}};
  std::vector<std::string> hostArgs, helperArgs;
  if (withFiles) {
    hostArgs = {"-sendFile", (rig.dir / "up.bin").string()};
    helperArgs = {"-sendFile", (rig.dir / "down.bin").string()};
  }
  host.startOnTerminal(hostArgs);
  if (!host.waitForID(20)) return std::fprintf(stderr, "no ID:\n%s\n", host.log().c_str()), false;
  helperArgs.insert(helperArgs.begin(), {"-autoConnect", host.lastID()});
  help.start(helperArgs);
  if (!host.waitForOutput("No answer in 30 s means Deny.", 60))
    return std::fprintf(stderr, "no question:\n%s\n%s\n", host.output().c_str(), help.log().c_str()), false;
  host.type("c");
  Watch toHelped{helped, "down.bin"}, toHelper{helper, "up.bin"};
  const auto start = Clock::now();
  auto seconds = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
  changeScreenWhile(rig.x, [&] {
    const double now = seconds();
    toHelped.poll(now);
    toHelper.poll(now);
    const bool moved = !withFiles || (toHelped.done >= 0 && toHelper.done >= 0);
    return now < 120 && !(moved && picturesPerSecond(help.log()) >= 0 && now > 11);
  });
  const double pictures = picturesPerSecond(help.log());
  // What the helper itself says of its link, so a relayed figure is one.
  const char* link = help.log().find("Through the server") != std::string::npos ? "relayed"
                     : help.log().find("Direct link") != std::string::npos ? "direct"
                                                                          : "unknown";
  std::printf("{\"figure\":\"files_pictures_per_second\",\"path\":\"%s\",\"link\":\"%s\",\"transfer\":%s,"
              "\"value\":%.1f}\n",
              path.c_str(), link, withFiles ? "true" : "false", pictures);
  for (const Watch* w : {&toHelped, &toHelper}) {
    if (!withFiles) break;
    const double taken = w->done - w->started;
    std::printf("{\"figure\":\"files_rate_MBps\",\"path\":\"%s\",\"direction\":\"%s\",\"megabytes\":%.1f,"
                "\"seconds\":%.2f,\"value\":%.2f}\n",
                path.c_str(), w == &toHelped ? "to helped" : "to helper", double(bytes) / 1e6, taken,
                w->done >= 0 ? double(bytes) / 1e6 / taken : -1.0);
  }
  std::fflush(stdout);
  help.stop();
  host.stop();
  return !withFiles || (toHelped.done >= 0 && toHelper.done >= 0);
}

}  // namespace

int main(int argc, char** argv) {
  size_t megabytes = 50;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::string(argv[i]) == "--megabytes") megabytes = size_t(std::max(1, std::atoi(argv[i + 1])));
  const std::string program = builtProgram("server/plimo-server");
  if (program.empty() || HeadlessClient::program().empty())
    return std::fprintf(stderr, "plimo-server or plimo is not built in this tree\n"), 2;
  testkit::TempDir dir("bench-files");
  plimo::testing::Xvfb display(1280, 720);
  if (!display.running()) return std::fprintf(stderr, "no Xvfb\n"), 2;
  ::Display* x = XOpenDisplay(display.name().c_str());
  if (!x) return 2;
  const size_t bytes = megabytes * 1000'000;
  writeRandom(dir / "down.bin", bytes, 1);
  writeRandom(dir / "up.bin", bytes, 2);
  const uint16_t udp = freePort(SOCK_DGRAM), tcp = freePort(SOCK_STREAM);
  Process server(program, {"--udp-port", std::to_string(udp), "--tcp-ports", std::to_string(tcp), "--data", dir / "data"},
                 dir / "server.txt");
  if (!server.waitForOutput("Listening on UDP", 20)) return std::fprintf(stderr, "no server\n"), 1;
  const Rig rig{program, udp, tcp, display.name(), x, dir.path()};
  bool ok = true;
  for (const bool relayed : {false, true}) {
    const std::string path = relayed ? "relayed" : "direct";
    ok = run(rig, path, relayed, bytes, false) && ok;
    ok = run(rig, path, relayed, bytes, true) && ok;
  }
  XCloseDisplay(x);
  server.stop();
  return ok ? 0 : 1;
}
