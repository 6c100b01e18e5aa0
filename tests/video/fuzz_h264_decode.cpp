// libFuzzer target: H264Decoder::decode on arbitrary bytes. The first byte
// picks whether a good pair of parameter sets (of a 64 × 48 stream) goes
// first, so that slices and later sets reach a live session; the rest is cut
// into frames at every "FRAME" marker.

#include <cstring>
#include <string_view>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/ffmpeg/H264Decoder.h"

namespace {

// SPS and PPS that the host's encoder writes for 64 × 48 pictures.
const plimo::Bytes kSets = {
    0, 0, 0, 1, 0x67, 0x4d, 0x40, 0x15, 0xda, 0x11, 0xe9, 0xa8, 0x10, 0x10, 0x32, 0x00, 0x00, 0x03,
    0x00, 0x02, 0x00, 0x00, 0x03, 0x00, 0x79, 0x1e, 0x2c, 0x5d, 0x40,
    0, 0, 0, 1, 0x68, 0xee, 0x3c, 0x80};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (av_log_set_level(AV_LOG_QUIET), true);
  (void)quiet;
  if (size == 0) return 0;
  plimo::H264Decoder decoder;
  auto decode = [&](plimo::ByteView frame) {
    try {
      decoder.decode(frame);
    } catch (const plimo::Failure&) {
    }
  };
  if (data[0] & 1) decode(kSets);
  const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
  size_t from = 0;
  while (from <= input.size()) {
    size_t to = input.find("FRAME", from);
    if (to == std::string_view::npos) to = input.size();
    decode(plimo::ByteView(data + 1 + from, to - from));
    from = to + 5;
  }
  return 0;
}
