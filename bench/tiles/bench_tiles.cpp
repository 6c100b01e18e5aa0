// The lossless picture path on a 1920 x 1080 synthetic desktop: one update per
// iteration unless said otherwise. bytes_per_update is the compressed size.

#include <benchmark/benchmark.h>

#include <cstring>

#include "core/ManualLoop.h"
#include "host/TileEncoder.h"
#include "platform/fake/FakePlatform.h"
#include "platform/fake/SyntheticDesktop.h"
#include "protocol/wire/ChannelMsg.h"
#include "protocol/wire/FrameChunk.h"
#include "viewer/LatestPicture.h"
#include "viewer/TileCanvas.h"
#include "viewer/ViewerSession.h"

using namespace plimo;
using Script = SyntheticDesktop::Script;

namespace {

TileEncoder::PixelView pictureOf(const SyntheticDesktop& desktop) {
  return {desktop.picture().data(), desktop.width(), desktop.height(), desktop.bytesPerRow()};
}

// An encoder that has sent the desktop's current picture completely.
void sendAll(TileEncoder& encoder, const SyntheticDesktop& desktop) {
  while (encoder.update(pictureOf(desktop), false)) {
  }
}

void setBytesPerUpdate(benchmark::State& state, double bytes, double updates) {
  state.counters["bytes_per_update"] = updates > 0 ? bytes / updates : 0;
}

// The floor: comparing two whole frames once.
void BM_Memcmp1080p(benchmark::State& state) {
  SyntheticDesktop desktop(Script::still);
  const Bytes copy(desktop.picture().begin(), desktop.picture().end());
  for (auto _ : state) {
    int result = std::memcmp(desktop.picture().data(), copy.data(), copy.size());
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(copy.size()));
}
BENCHMARK(BM_Memcmp1080p)->Unit(benchmark::kMicrosecond);

// The compare pass of a picture in which nothing changed.
void BM_TileUnchanged(benchmark::State& state) {
  SyntheticDesktop desktop(Script::still);
  TileEncoder encoder;
  sendAll(encoder, desktop);
  for (auto _ : state) {
    auto update = encoder.update(pictureOf(desktop), false);
    if (update) state.SkipWithError("an unchanged picture made an update");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(desktop.picture().size()));
}
BENCHMARK(BM_TileUnchanged)->Unit(benchmark::kMicrosecond);

// Pictures that change by a few tiles (typing) or by more than one update
// holds (scrolling: every update carries 64 tiles).
void encodeScript(benchmark::State& state, Script script) {
  SyntheticDesktop desktop(script);
  TileEncoder encoder;
  sendAll(encoder, desktop);
  double bytes = 0, updates = 0;
  for (auto _ : state) {
    state.PauseTiming();
    desktop.next();
    state.ResumeTiming();
    auto update = encoder.update(pictureOf(desktop), false);
    if (update) {
      bytes += double(update->size());
      ++updates;
    }
  }
  setBytesPerUpdate(state, bytes, updates);
}
void BM_TileTyping(benchmark::State& state) { encodeScript(state, Script::typing); }
void BM_TileScroll64(benchmark::State& state) { encodeScript(state, Script::scrolling); }
BENCHMARK(BM_TileTyping)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TileScroll64)->Unit(benchmark::kMillisecond);

// A full refresh: all 8 updates of the sweep per iteration.
void BM_TileSweep(benchmark::State& state) {
  SyntheticDesktop desktop(Script::busy);
  desktop.next();
  TileEncoder encoder;
  sendAll(encoder, desktop);
  double bytes = 0, updates = 0;
  for (auto _ : state) {
    bool full = true;
    while (auto update = encoder.update(pictureOf(desktop), full)) {
      bytes += double(update->size());
      ++updates;
      full = false;
    }
  }
  setBytesPerUpdate(state, bytes, updates);
}
BENCHMARK(BM_TileSweep)->Unit(benchmark::kMillisecond);

// The viewer's side of a 64-tile update (a scrolled document).
void BM_CanvasApply64(benchmark::State& state) {
  SyntheticDesktop desktop(Script::scrolling);
  TileEncoder encoder;
  TileCanvas canvas;
  while (auto update = encoder.update(pictureOf(desktop), false)) canvas.apply(*update);
  desktop.next();
  const auto update = encoder.update(pictureOf(desktop), false);
  if (!update) {
    state.SkipWithError("no update to apply");
    return;
  }
  for (auto _ : state) canvas.apply(*update);
  setBytesPerUpdate(state, double(update->size()), 1);
}
BENCHMARK(BM_CanvasApply64)->Unit(benchmark::kMillisecond);

// The same update as the helper's session shows it: reassembled from its
// chunks, applied, and handed to the display (the headless picture keeper).
void BM_SessionShows64Tiles(benchmark::State& state) {
  SyntheticDesktop desktop(Script::scrolling);
  TileEncoder encoder;
  ManualLoop loop;
  FakePlatform platform;
  LatestPicture display;
  ViewerSession session(loop, platform, {"123456789", "000 000", [](ByteView) {}}, AppSettings{}, {});
  session.setDisplay(&display);
  uint32_t id = 0;
  auto show = [&](ByteView update) {
    Bytes frame{0};
    append(frame, update);
    ++id;
    const size_t count = (frame.size() + FrameChunk::kPayload - 1) / FrameChunk::kPayload;
    for (size_t i = 0; i < count; ++i) {
      Bytes packet{SessionPacket::kFrameChunk};
      appendLE<uint32_t>(packet, id);
      appendLE<uint16_t>(packet, uint16_t(i));
      appendLE<uint16_t>(packet, uint16_t(count));
      const size_t from = i * FrameChunk::kPayload;
      append(packet, bytes(frame, from, std::min(FrameChunk::kPayload, frame.size() - from)));
      session.receive(packet);
    }
  };
  while (auto update = encoder.update(pictureOf(desktop), false)) show(*update);
  desktop.next();
  const auto update = encoder.update(pictureOf(desktop), false);
  if (!update) return state.SkipWithError("no update to apply");
  const int before = display.shown();
  for (auto _ : state) show(*update);
  if (display.shown() - before != int(state.iterations())) state.SkipWithError("updates not shown");
  setBytesPerUpdate(state, double(update->size()), 1);
}
BENCHMARK(BM_SessionShows64Tiles)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
