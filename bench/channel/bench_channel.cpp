// Session channel figures: how long a 1 MB picture frame takes across a
// 20 ms round trip with losses (virtual time, so the figure is the protocol's,
// not this machine's), and how fast the zlib wrapper packs a screen update.
//
//   bench_channel --benchmark_filter=BM_FrameTransfer
//   bench_channel --benchmark_filter=BM_ZlibCompress64Tiles

#include <benchmark/benchmark.h>

#include <random>

#include "core/ManualLoop.h"
#include "platform/fake/SyntheticDesktop.h"
#include "protocol/wire/FrameWindowReceiver.h"
#include "protocol/wire/FrameWindowSender.h"
#include "support/Zlib.h"
#include "testkit/LossyLink.h"

namespace plimo {
namespace {

using testkit::LossyLink;
using End = LossyLink::End;  // a = host, b = viewer

struct Transfer {
  double seconds = 0;
  size_t chunksSent = 0;
};

// One frame from start() to delivery, with the host's and the viewer's timers
// as the sessions run them: 40 chunks at once and every 10 ms; the viewer's
// stall recovery every 10 ms.
Transfer transferOnce(const Bytes& frame, double loss, uint32_t seed) {
  ManualLoop loop;
  LossyLink link(loop, {.drop = loss, .delay = 0.010, .seed = seed, .tick = 0.0002});
  FrameWindowSender sender(loop);
  sender.setLegacy(false);
  sender.setMaxInFlight(4);
  FrameWindowReceiver receiver(loop);
  bool delivered = false;
  link.setReceiver(End::a, [&](ByteView p) {
    if (p[0] == 0x82) sender.handleAck(p);
    if (p[0] == 0x83) sender.handleNack(p);
  });
  link.setReceiver(End::b, [&](ByteView p) {
    auto result = receiver.handleChunk(p);
    if (result.reply) link.send(End::b, *result.reply);
    if (!result.blobs.empty()) delivered = true;
  });
  Timer host = loop.every(0.01, [&] { link.send(End::a, sender.nextPackets(40)); });
  Timer viewer = loop.every(0.01, [&] { link.send(End::b, receiver.pendingNacks(0.02)); });

  const double start = loop.now();
  sender.start(frame);
  link.send(End::a, sender.nextPackets(40));
  loop.runUntil([&] { return delivered; }, 60.0, 0.0002);
  return {loop.now() - start, link.stats(End::a).sent};
}

void BM_FrameTransfer(benchmark::State& state) {
  const double loss = double(state.range(0)) / 100.0;
  Bytes frame(1'000'000);
  std::mt19937 rng(1);
  for (auto& b : frame) b = uint8_t(rng());
  double seconds = 0;
  size_t chunks = 0;
  uint32_t seed = 1;
  for (auto _ : state) {
    const Transfer t = transferOnce(frame, loss, seed++);
    seconds += t.seconds;
    chunks += t.chunksSent;
  }
  const double n = double(state.iterations());
  state.counters["virtual_ms"] = seconds / n * 1000.0;
  state.counters["goodput_MBps"] = double(frame.size()) * n / seconds / 1e6;
  // 834 chunks carry the frame; the rest are retransmissions and probes.
  state.counters["chunks_sent"] = double(chunks) / n;
}
BENCHMARK(BM_FrameTransfer)->Arg(0)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);

// The updates of one full-screen sweep over a 1920 x 1080 desktop, 64 tiles of
// 64 x 64 pixels each (edges smaller), in the screen-update layout: u16 width,
// height, tile count, then per tile x, y, w, h and w × h × 3 bytes BGR.
std::vector<Bytes> desktopUpdates() {
  SyntheticDesktop desktop(SyntheticDesktop::Script::busy, 1920, 1080);
  for (int i = 0; i < 30; ++i) desktop.next();
  const ByteView pic = desktop.picture();
  std::vector<std::pair<int, int>> tiles;
  for (int y = 0; y < desktop.height(); y += 64) {
    for (int x = 0; x < desktop.width(); x += 64) tiles.emplace_back(x, y);
  }
  std::vector<Bytes> updates;
  for (size_t first = 0; first + 64 <= tiles.size(); first += 64) {
    Bytes u;
    appendLE<uint16_t>(u, uint16_t(desktop.width()));
    appendLE<uint16_t>(u, uint16_t(desktop.height()));
    appendLE<uint16_t>(u, 64);
    for (size_t t = first; t < first + 64; ++t) {
      const auto [x, y] = tiles[t];
      const int w = std::min(64, desktop.width() - x), h = std::min(64, desktop.height() - y);
      for (int v : {x, y, w, h}) appendLE<uint16_t>(u, uint16_t(v));
      for (int row = y; row < y + h; ++row) {
        for (int col = x; col < x + w; ++col) {
          const size_t at = size_t(row) * desktop.bytesPerRow() + size_t(col) * 4;
          u.insert(u.end(), pic.begin() + at, pic.begin() + at + 3);
        }
      }
    }
    updates.push_back(std::move(u));
  }
  return updates;
}

void BM_ZlibCompress64Tiles(benchmark::State& state) {
  const int level = int(state.range(0));
  static const std::vector<Bytes> updates = desktopUpdates();
  size_t in = 0, out = 0, i = 0;
  for (auto _ : state) {
    const Bytes& u = updates[i++ % updates.size()];
    const Bytes z = Zlib::compress(u, level);
    benchmark::DoNotOptimize(z.data());
    in += u.size();
    out += z.size();
  }
  state.SetBytesProcessed(int64_t(in));
  state.counters["ratio"] = double(in) / double(out);
  state.counters["bytes_out"] = double(out) / double(state.iterations());
}
BENCHMARK(BM_ZlibCompress64Tiles)->Arg(Zlib::kLevel)->Arg(6)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace plimo

BENCHMARK_MAIN();
