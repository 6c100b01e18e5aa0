// H.264 cost at 1920 × 1080, one picture per iteration, in ms per picture
// (colour conversion included), with the bytes a picture costs on the wire
// and, for encoding, the CPU time of all the encoder's threads.
//   typing: one character a picture typed into an editor window
//   scroll: the whole screen moves up by 8 rows a picture

#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/ffmpeg/H264Decoder.h"
#include "platform/ffmpeg/H264Encoder.h"
#include "video/VideoKit.h"

namespace plimo {
namespace {

enum class Motion { typing, scroll };

double processSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kScrollRows = 8;  // a brisk wheel scroll

// Makes the pictures of one kind of motion, one after the other.
class Pictures {
 public:
  explicit Pictures(Motion motion)
      : motion_(motion), desktop_(motion == Motion::typing ? SyntheticDesktop::Script::typing
                                                           : SyntheticDesktop::Script::still,
                                  kWidth, kHeight) {
    desktop_.next();
    base_ = videokit::pictureOf(desktop_);
    picture_ = base_;
  }

  const Picture& next() {
    ++step_;
    if (motion_ == Motion::typing) {
      desktop_.next();
      std::memcpy(picture_.pixels.data(), desktop_.picture().data(), picture_.pixels.size());
    } else {
      const size_t rowBytes = size_t(kWidth) * 4;
      const size_t shift = size_t(step_ * kScrollRows % kHeight) * rowBytes;
      const size_t total = base_.pixels.size();
      std::memcpy(picture_.pixels.data(), base_.pixels.data() + shift, total - shift);
      std::memcpy(picture_.pixels.data() + (total - shift), base_.pixels.data(), shift);
    }
    return picture_;
  }

 private:
  Motion motion_;
  SyntheticDesktop desktop_;
  Picture base_;
  Picture picture_;
  int64_t step_ = 0;
};

void BM_Encode1080p(benchmark::State& state, Motion motion) {
  av_log_set_level(AV_LOG_QUIET);
  Pictures pictures(motion);
  H264Encoder encoder(kWidth, kHeight, 60);
  encoder.encode(pictures.next(), true);
  size_t bytes = 0;
  double cpu = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const Picture& picture = pictures.next();
    state.ResumeTiming();
    const double began = processSeconds();
    bytes += encoder.encode(picture, false).size();
    cpu += processSeconds() - began;
  }
  state.counters["bytes_per_frame"] = double(bytes) / double(state.iterations());
  // Every thread's work for a picture: on a loaded machine the wall time
  // says little, and with two cores free it is at least half of this.
  state.counters["cpu_ms_all_threads"] = cpu * 1000 / double(state.iterations());
}
BENCHMARK_CAPTURE(BM_Encode1080p, typing, Motion::typing)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Encode1080p, scroll, Motion::scroll)->Unit(benchmark::kMillisecond);

void BM_Decode1080p(benchmark::State& state, Motion motion) {
  av_log_set_level(AV_LOG_QUIET);
  // Two seconds of video, decoded over and over; it starts with a key frame.
  Pictures pictures(motion);
  H264Encoder encoder(kWidth, kHeight, 60);
  std::vector<Bytes> frames;
  for (int i = 0; i < 120; ++i) frames.push_back(encoder.encode(pictures.next(), i == 0));
  H264Decoder decoder;
  size_t bytes = 0, index = 0;
  for (auto _ : state) {
    const Bytes& frame = frames[index++ % frames.size()];
    bytes += frame.size();
    benchmark::DoNotOptimize(decoder.decode(frame));
  }
  state.counters["bytes_per_frame"] = double(bytes) / double(state.iterations());
}
BENCHMARK_CAPTURE(BM_Decode1080p, typing, Motion::typing)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decode1080p, scroll, Motion::scroll)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace plimo

BENCHMARK_MAIN();
