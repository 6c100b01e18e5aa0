// Any byte stream, cut anywhere, frames to the same packets as in one piece.

#include <cstdlib>

#include "protocol/wire/StreamFramer.h"

using namespace plimo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  size_t cut = data[0] % size;
  ByteView stream(data + 1, size - 1);
  cut = cut > stream.size() ? stream.size() : cut;

  std::vector<Bytes> whole, pieces;
  StreamFramer one;
  bool okWhole = one.feed(stream, [&](ByteView p) { whole.emplace_back(p.begin(), p.end()); });
  StreamFramer two;
  bool okPieces = two.feed(stream.first(cut), [&](ByteView p) { pieces.emplace_back(p.begin(), p.end()); });
  if (okPieces) okPieces = two.feed(stream.subspan(cut), [&](ByteView p) { pieces.emplace_back(p.begin(), p.end()); });
  if (okWhole != okPieces || whole != pieces) std::abort();
  for (auto& p : whole) {
    if (p.empty() || p.size() > StreamFramer::kMaxPacket) std::abort();
  }
  if (okWhole && two.buffered() > 65537) std::abort();
  return 0;
}
