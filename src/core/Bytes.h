#pragma once
// Byte buffers and the little-endian integers every wire format here uses.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace plimo {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

// Reads an unsigned little-endian integer of sizeof(T) bytes at `pos`.
// The caller has checked that pos + sizeof(T) <= data.size().
template <typename T>
T readLE(ByteView data, size_t pos) {
  static_assert(std::is_unsigned_v<T>);
  T value = 0;
  for (size_t i = 0; i < sizeof(T); ++i) value |= T(data[pos + i]) << (8 * i);
  return value;
}

inline uint16_t readLE16(ByteView d, size_t pos) { return readLE<uint16_t>(d, pos); }
inline uint32_t readLE32(ByteView d, size_t pos) { return readLE<uint32_t>(d, pos); }
inline uint64_t readLE64(ByteView d, size_t pos) { return readLE<uint64_t>(d, pos); }

// Big-endian, for the few formats that use it (TCP framing, zlib trailer).
template <typename T>
T readBE(ByteView data, size_t pos) {
  static_assert(std::is_unsigned_v<T>);
  T value = 0;
  for (size_t i = 0; i < sizeof(T); ++i) value = T(value << 8) | T(data[pos + i]);
  return value;
}

template <typename T>
void appendLE(Bytes& out, T value) {
  static_assert(std::is_unsigned_v<T>);
  for (size_t i = 0; i < sizeof(T); ++i) out.push_back(uint8_t(value >> (8 * i)));
}

template <typename T>
void appendBE(Bytes& out, T value) {
  static_assert(std::is_unsigned_v<T>);
  for (size_t i = sizeof(T); i-- > 0;) out.push_back(uint8_t(value >> (8 * i)));
}

template <typename T>
void writeLE(uint8_t* at, T value) {
  static_assert(std::is_unsigned_v<T>);
  for (size_t i = 0; i < sizeof(T); ++i) at[i] = uint8_t(value >> (8 * i));
}

inline void append(Bytes& out, ByteView more) { out.insert(out.end(), more.begin(), more.end()); }

// `count` bytes starting at `from`; the caller has checked the range.
inline Bytes bytes(ByteView data, size_t from, size_t count) {
  return Bytes(data.begin() + from, data.begin() + from + count);
}

// True when [from, from + count) lies inside a buffer of `size` bytes,
// without overflowing.
inline bool inRange(size_t size, size_t from, size_t count) {
  return from <= size && count <= size - from;
}

inline Bytes toBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }
inline std::string toString(ByteView data) { return std::string(data.begin(), data.end()); }

}  // namespace plimo
