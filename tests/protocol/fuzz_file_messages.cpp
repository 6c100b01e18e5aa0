// The file transfer's readers fed arbitrary payloads: nothing read lies
// outside the payload or past the sizes the messages allow.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "protocol/wire/FileMessages.h"

using namespace plimo;
using namespace plimo::FileMsg;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const ByteView payload(data, size);
  if (auto offer = decodeOffer(payload)) {
    if (offer->name.empty() || offer->name.size() > kMaxName || offer->sha256.size() != kDigest) std::abort();
    if (encode(*offer) != Bytes(payload.begin(), payload.end())) std::abort();
  }
  if (auto chunk = decodeChunk(payload)) {
    if (chunk->data.empty() || chunk->data.size() > kMaxChunk) std::abort();
    if (encodeChunk(chunk->id, chunk->offset, chunk->data) != Bytes(payload.begin(), payload.end())) std::abort();
  }
  if (auto progress = decodeProgress(payload); progress && encode(*progress).size() != size) std::abort();
  if (auto cancel = decodeCancel(payload); cancel && encode(*cancel) != Bytes(payload.begin(), payload.end()))
    std::abort();
  (void)decodeReply(payload);
  (void)decodeRequest(payload);
  return 0;
}
