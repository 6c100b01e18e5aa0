#include "support/Zlib.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <new>
#include <utility>

namespace plimo::Zlib {

namespace {

// Output grows in steps of this size while inflating, so that memory follows
// what the stream really produces rather than what it claims.
constexpr size_t kChunk = 262144;

// Raw DEFLATE (no zlib framing from the library), 32 KB window.
constexpr int kRawWindowBits = -15;
constexpr int kMemLevel = 8;

// zlib counts in uInt; feed and drain it in pieces that fit.
constexpr size_t kMaxPiece = std::numeric_limits<uInt>::max();

// The header every stream of ours starts with: DEFLATE with a 32 KB window,
// "default level", no dictionary, check bits valid.
constexpr uint8_t kCmf = 0x78;
constexpr uint8_t kFlg = 0x9C;
constexpr size_t kHeaderSize = 2;

Failure corrupt() { return Failure(Failure::Kind::corrupt, "corrupt"); }

void appendTrailer(Bytes& out, ByteView input) { appendBE<uint32_t>(out, adler32(input)); }

// Any level and window size; a preset dictionary we could not supply.
bool headerValid(ByteView stream) {
  // Header (2) + the shortest DEFLATE data (1 empty fixed block: 2) + trailer
  // (4) is 8; anything of 5 bytes or less cannot be a stream.
  if (stream.size() <= 5) return false;
  const uint8_t cmf = stream[0];
  const uint8_t flg = stream[1];
  return (cmf & 0x0F) == 8 && (cmf * 256 + flg) % 31 == 0 && (flg & 0x20) == 0;
}

struct Inflated {
  Bytes out;
  bool ended = false;  // the DEFLATE data ended well; else it broke or `out` filled first
};

// Inflates the DEFLATE data after the header into at most `limit` bytes.
Inflated inflateBody(ByteView stream, size_t limit) {
  Inflated result;
  z_stream zs{};
  if (inflateInit2(&zs, kRawWindowBits) != Z_OK) return result;
  Bytes& out = result.out;
  size_t produced = 0;
  size_t fed = kHeaderSize;
  int status = Z_OK;
  while (status == Z_OK) {
    if (zs.avail_in == 0 && fed < stream.size()) {
      const size_t piece = std::min(stream.size() - fed, kMaxPiece);
      zs.next_in = const_cast<Bytef*>(stream.data() + fed);
      zs.avail_in = uInt(piece);
      fed += piece;
    }
    if (produced == out.size()) {
      if (produced >= limit) break;
      out.resize(produced + std::min(kChunk, limit - produced));
    }
    const size_t room = std::min(out.size() - produced, kMaxPiece);
    zs.next_out = out.data() + produced;
    zs.avail_out = uInt(room);
    // Z_BUF_ERROR with input left cannot happen with output room, and without
    // input left it means the data ended early.
    status = inflate(&zs, Z_NO_FLUSH);
    produced += room - zs.avail_out;
  }
  inflateEnd(&zs);
  out.resize(produced);
  result.ended = status == Z_STREAM_END;
  return result;
}

}  // namespace

uint32_t adler32(ByteView data) {
  uLong sum = ::adler32(0L, Z_NULL, 0);
  size_t pos = 0;
  while (pos < data.size()) {
    const size_t piece = std::min(data.size() - pos, kMaxPiece);
    sum = ::adler32(sum, data.data() + pos, uInt(piece));
    pos += piece;
  }
  return uint32_t(sum);
}

Bytes compress(ByteView input, int level) {
  z_stream zs{};
  if (deflateInit2(&zs, std::clamp(level, 0, 9), Z_DEFLATED, kRawWindowBits, kMemLevel,
                   Z_DEFAULT_STRATEGY) != Z_OK) {
    // Only a failed allocation gets here; that is not a recoverable condition.
    throw std::bad_alloc();
  }
  Bytes out{kCmf, kFlg};
  // deflateBound covers the whole output, so one pass usually suffices.
  out.resize(kHeaderSize + deflateBound(&zs, uLong(input.size())));
  size_t produced = kHeaderSize;
  size_t fed = 0;
  int status = Z_OK;
  while (status != Z_STREAM_END) {
    if (zs.avail_in == 0 && fed < input.size()) {
      const size_t piece = std::min(input.size() - fed, kMaxPiece);
      zs.next_in = const_cast<Bytef*>(input.data() + fed);
      zs.avail_in = uInt(piece);
      fed += piece;
    }
    if (produced == out.size()) out.resize(out.size() + kChunk);
    const size_t room = std::min(out.size() - produced, kMaxPiece);
    zs.next_out = out.data() + produced;
    zs.avail_out = uInt(room);
    status = deflate(&zs, fed == input.size() ? Z_FINISH : Z_NO_FLUSH);
    produced += room - zs.avail_out;
  }
  deflateEnd(&zs);
  out.resize(produced);
  appendTrailer(out, input);
  return out;
}

Bytes decompress(ByteView stream, size_t maxOutput) {
  if (!headerValid(stream)) throw corrupt();
  // Room for one byte more than allowed, to tell "exactly full" from "too big".
  const size_t cap = maxOutput < std::numeric_limits<size_t>::max() ? maxOutput + 1 : maxOutput;
  Inflated inflated = inflateBody(stream, cap);
  if (!inflated.ended || inflated.out.size() > maxOutput) throw corrupt();
  return std::move(inflated.out);
}

Bytes peek(ByteView stream, size_t bytes) {
  if (!headerValid(stream)) return {};
  return inflateBody(stream, bytes).out;
}

}  // namespace plimo::Zlib
