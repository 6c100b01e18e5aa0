#include "support/Utf8.h"

#include <cstdint>

namespace plimo {

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";

// Length of the valid sequence at `i`, or 0 when it is not valid.
size_t validLength(std::string_view s, size_t i) {
  auto byte = [&](size_t k) { return uint8_t(s[k]); };
  uint8_t b0 = byte(i);
  if (b0 < 0x80) return 1;
  size_t n;
  uint32_t min;
  uint32_t cp;
  if ((b0 & 0xE0) == 0xC0) {
    n = 2, min = 0x80, cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    n = 3, min = 0x800, cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    n = 4, min = 0x10000, cp = b0 & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

std::string sanitizeUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    size_t n = validLength(bytes, i);
    if (n == 0) {
      out += replacement;
      ++i;
    } else {
      out.append(bytes.substr(i, n));
      i += n;
    }
  }
  return out;
}

}  // namespace plimo
