#pragma once
// The file transfer's channel messages (kinds 98 to 103), sent only to a
// partner whose extension list names "files". Each transfer has a number
// its sender chose; the other five messages name it. Everything read here
// comes from the partner: a reader answers nothing for bytes it cannot take.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "core/Bytes.h"

namespace plimo {

namespace FileKind {
inline constexpr uint8_t offer = 98, answer = 99, chunk = 100, progress = 101, cancel = 102, request = 103;
}  // namespace FileKind

namespace FileMsg {

inline constexpr size_t kDigest = 32;
inline constexpr size_t kMaxName = 255;
// A chunk fills one channel part: id and offset, then the data.
inline constexpr size_t kChunkHeader = 12;
inline constexpr size_t kMaxChunk = 1150 - kChunkHeader;

// 98: u32 id, u64 size, the whole file's SHA-256, the name (1 to 255 UTF-8
// bytes, as the sender's file is called; the receiver judges it).
struct Offer {
  uint32_t id = 0;
  uint64_t size = 0;
  Bytes sha256;
  std::string name;
  bool operator==(const Offer&) const = default;
};
Bytes encode(const Offer& offer);
std::optional<Offer> decodeOffer(ByteView payload);

// 99: u32 id, u8 answer. Codes a receiver does not know read as `other`.
enum class Answer : uint8_t { accept = 0, declined = 1, badName = 2, noRoom = 3, busy = 4, noFolder = 5, other = 255 };
struct Reply {
  uint32_t id = 0;
  Answer answer = Answer::accept;
  bool operator==(const Reply&) const = default;
};
Bytes encode(const Reply& reply);
std::optional<Reply> decodeReply(ByteView payload);

// 100: u32 id, u64 offset, 1 to kMaxChunk bytes of the file.
struct Chunk {
  uint32_t id = 0;
  uint64_t offset = 0;
  ByteView data;  // inside the payload given
};
Bytes encodeChunk(uint32_t id, uint64_t offset, ByteView data);
std::optional<Chunk> decodeChunk(ByteView payload);

// 101, receiver to sender: u32 id, u64 bytes written, u8 state (0 still
// coming, 1 saved with a matching SHA-256, 2 failed).
enum class State : uint8_t { going = 0, saved = 1, failed = 2 };
struct Progress {
  uint32_t id = 0;
  uint64_t received = 0;
  State state = State::going;
  bool operator==(const Progress&) const = default;
};
Bytes encode(const Progress& progress);
std::optional<Progress> decodeProgress(ByteView payload);

// 102, either side: u32 id, u8 0 for the sender's own transfer, 1 for the
// one the partner sends.
struct Cancel {
  uint32_t id = 0;
  bool yours = false;
  bool operator==(const Cancel&) const = default;
};
Bytes encode(const Cancel& cancel);
std::optional<Cancel> decodeCancel(ByteView payload);

// 103, helper to helped PC: u32 id, which the helped PC's offer in reply
// carries (or its cancel, when the person picks nothing).
Bytes encodeRequest(uint32_t id);
std::optional<uint32_t> decodeRequest(ByteView payload);

}  // namespace FileMsg

}  // namespace plimo
