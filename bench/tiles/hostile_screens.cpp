// What a hostile host's claimed screens make the helper hold: tile updates of
// a few bytes (no tiles) claiming 16384 x 16384, either alone or in turn with
// 1920 x 1080, 60 a second for two seconds, into a helper without windows
// (the session and the picture keeper of `plimo --headless`). Prints the
// process's peak resident memory (VmHWM) and the CPU time taken.
//
//   hostile_screens same|alternating

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>

#include "core/ManualLoop.h"
#include "platform/fake/FakePlatform.h"
#include "protocol/wire/ChannelMsg.h"
#include "protocol/wire/FrameChunk.h"
#include "support/Zlib.h"
#include "viewer/LatestPicture.h"
#include "viewer/ViewerSession.h"

using namespace plimo;

namespace {

// A one-chunk single-frame transfer of a tile update without tiles.
Bytes emptyUpdate(uint32_t frameID, int width, int height) {
  Bytes raw;
  for (int v : {width, height, 0}) appendLE<uint16_t>(raw, uint16_t(v));
  Bytes frame{0};
  append(frame, Zlib::compress(raw));
  Bytes packet{SessionPacket::kFrameChunk};
  appendLE<uint32_t>(packet, frameID);
  appendLE<uint16_t>(packet, 0);
  appendLE<uint16_t>(packet, 1);
  append(packet, frame);
  return packet;
}

std::string status(const char* key) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(key, 0) == 0) return line;
  return {};
}

double cpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  const bool alternating = argc > 1 && std::strcmp(argv[1], "alternating") == 0;
  ManualLoop loop;
  FakePlatform platform;
  LatestPicture display;
  ViewerSession session(loop, platform, {"123456789", "000 000", [](ByteView) {}}, AppSettings{}, {});
  session.setDisplay(&display);
  const double began = cpuSeconds();
  constexpr int kFrames = 120;
  size_t frameBytes = 0;
  for (int i = 0; i < kFrames; ++i) {
    const bool huge = !alternating || i % 2 == 0;
    const Bytes packet = emptyUpdate(uint32_t(i + 1), huge ? 16384 : 1920, huge ? 16384 : 1080);
    frameBytes = packet.size() - FrameChunk::kSingleHeader;
    session.receive(packet);
    loop.advance(1.0 / 60);
  }
  std::printf("%s: %d frames of %zu bytes, %d shown, CPU %.2f s\n%s\n%s\n", alternating ? "alternating" : "same",
              kFrames, frameBytes, display.shown(), cpuSeconds() - began, status("VmHWM").c_str(),
              status("VmRSS").c_str());
  return 0;
}
