// host_session [seconds]: the host session in real time on a 1080p synthetic
// desktop changing 60 times a second, its pictures acknowledged at once by an
// in-process viewer. Figures come from the session's own statistics line
// (10 s periods) and the process's CPU time, less the time spent drawing the
// synthetic desktop (which a real screen does not cost the host).

#include <time.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <string>

#include "core/AsioLoop.h"
#include "host/HostSession.h"
#include "platform/fake/FakePlatform.h"
#include "protocol/wire/FrameReceiver.h"
#include "protocol/wire/FrameWindowReceiver.h"
#include "protocol/wire/MsgChannel.h"

using namespace plimo;

namespace {

double cpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double wallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void run(SyntheticDesktop::Script script, bool video, double seconds) {
  AsioLoop loop;
  FakePlatform platform;
  MsgChannel viewerChannel(loop);
  FrameWindowReceiver receiver(loop);
  std::unique_ptr<HostSession> session;
  std::string stats;
  size_t pictures = 0;
  auto toHost = [&](Bytes packet) {
    loop.post([&, packet = std::move(packet)] {
      if (session) session->receive(packet);
    });
  };
  HostSession::Link link{"123456789", "000 000", "bench", false, {"127.0.0.1", 1},
                         [&](ByteView p) {
                           if (p[0] == SessionPacket::kChannelMsg) {
                             viewerChannel.handleMsg(p);
                           } else if (p[0] == SessionPacket::kWindowedChunk) {
                             auto r = receiver.handleChunk(p);
                             pictures += r.blobs.size();
                             if (r.reply) toHost(*r.reply);
                           }
                         },
                         [] {}};
  HostSession::Events events;
  events.onLog = [&](const std::string& line) {
    if (line.find("pictures/s") != std::string::npos) stats = line;
  };
  session =
      std::make_unique<HostSession>(loop, platform, SystemInfo{}, std::move(link), std::move(events), true, false);
  viewerChannel.post(11, Bytes{uint8_t(video ? 0x03 : 0x02)});
  auto viewerTimer = loop.every(0.01, [&] {
    for (auto& p : viewerChannel.poll()) toHost(p);
  });
  SyntheticDesktop desktop(script, 1920, 1080);
  double drawing = 0;
  auto screenTimer = loop.every(1.0 / 60, [&] {
    if (!platform.screen || !platform.screen->running) return;
    if (script == SyntheticDesktop::Script::still && desktop.step() > 0) return;
    const double began = cpuSeconds();
    platform.screen->showNext(desktop);
    drawing += cpuSeconds() - began;
  });
  double cpuStart = 0, wallStart = 0, drawingStart = 0;
  // Consent comes after 2 s; the first statistics period ends 10 s after
  // creation, so measuring starts there and takes the next period.
  auto measureFrom = loop.after(10.0, [&] {
    stats.clear();  // a period without pictures logs nothing: figures of 0
    cpuStart = cpuSeconds();
    wallStart = wallSeconds();
    drawingStart = drawing;
  });
  auto end = loop.after(10.0 + seconds + 0.05, [&] { loop.stop(); });
  loop.run();
  const double cpu = cpuSeconds() - cpuStart - (drawing - drawingStart);
  const double wall = wallSeconds() - wallStart;
  session.reset();

  double rate = 0, encodeMs = 0, mbits = 0;
  std::smatch m;
  static const std::regex pattern(R"(([0-9.]+) pictures/s, encode ([0-9.]+) ms each, ([0-9.]+) Mbit/s)");
  if (std::regex_search(stats, m, pattern)) {
    rate = std::stod(m[1]);
    encodeMs = std::stod(m[2]);
    mbits = std::stod(m[3]);
  }
  std::printf(
      "{\"figure\": \"host_session\", \"screen\": \"%s\", \"pictures\": \"%s\", \"pictures_per_second\": %.1f, "
      "\"encode_ms\": %.2f, \"mbit_per_second\": %.2f, \"cpu_share_of_one_core\": %.2f}\n",
      std::string(SyntheticDesktop::name(script)).c_str(), video ? "H.264" : "tiles", rate, encodeMs, mbits,
      cpu / wall);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::stod(argv[1]) : 10.0;
  for (bool video : {false, true})
    for (auto script : {SyntheticDesktop::Script::still, SyntheticDesktop::Script::typing,
                        SyntheticDesktop::Script::scrolling})
      run(script, video, seconds);
}
