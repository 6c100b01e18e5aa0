#pragma once
// zlib streams (RFC 1950) around raw DEFLATE from the zlib library.
//
// The two-byte header and the Adler-32 trailer are written and checked here,
// and only here, so that the bytes match the other editions of the protocol
// exactly: the header is always 78 9C whatever level or compressor made the
// data, and the trailer is not verified on the way in (peers exist that write
// a wrong one).
//
// Pure and reentrant: every call has its own stream state, so the encoder
// thread and the main thread may call at the same time.

#include <cstddef>
#include <cstdint>

#include "core/Bytes.h"
#include "core/Failure.h"

namespace plimo::Zlib {

// Level 3, the strongest of zlib's fast path: tiles are compressed for every
// captured picture, on the host's capture path. On desktop screen updates it
// packs about twice as fast as the default level 6 for about 15 % more bytes,
// while level 1 gains little more speed and gives about 40 % more bytes
// (bench_channel, BM_ZlibCompress64Tiles). The stream says "default level"
// (78 9C) whatever the level: the header's level is advisory only.
inline constexpr int kLevel = 3;

// Output limit when the caller gives none: a full 8K BGRA picture (133 MB) with
// room to spare. A stream of a few kilobytes can claim gigabytes; callers that
// know the size they expect should pass it.
inline constexpr size_t kDefaultMaxOutput = size_t(256) << 20;

// 78 9C, raw DEFLATE of `input` at `level` (0..9), Adler-32 of `input`
// big-endian. Never fails.
Bytes compress(ByteView input, int level = kLevel);

// Inflates a zlib stream of any level and window size. Throws
// Failure::Kind::corrupt (text "corrupt"), with nothing partial, when the
// input is 5 bytes or shorter, the header is not DEFLATE / fails its check /
// asks for a preset dictionary, the DEFLATE data is damaged or ends early, or
// the output would pass `maxOutput` bytes.
Bytes decompress(ByteView stream, size_t maxOutput = kDefaultMaxOutput);

// The first `bytes` bytes the stream inflates to, without inflating the rest:
// what a stream claims, learnt before it is trusted with memory. Fewer when
// the stream ends, breaks or is not a zlib stream before them; `decompress`
// tells which.
Bytes peek(ByteView stream, size_t bytes);

// RFC 1950 Adler-32; 1 for the empty input.
uint32_t adler32(ByteView data);

}  // namespace plimo::Zlib
