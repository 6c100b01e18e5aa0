#include "protocol/wire/ClipboardText.h"

#include "core/Text.h"

namespace plimo::ClipboardText {

Bytes encode(std::string_view text) {
  Bytes out{kUtf8};
  out.insert(out.end(), text.begin(), text.end());
  return out;
}

std::optional<std::string> decode(ByteView payload) {
  if (payload.size() < 2 || payload.size() > 1 + kMaxText || payload[0] != kUtf8) return std::nullopt;
  const std::string valid = utf8Lossy({reinterpret_cast<const char*>(payload.data()) + 1, payload.size() - 1});
  std::string out;
  out.reserve(valid.size());
  for (size_t i = 0; i < valid.size(); ++i) {
    const auto b = uint8_t(valid[i]);
    if ((b < 0x20 && b != '\t' && b != '\n' && b != '\r') || b == 0x7F) continue;
    if (b == 0xC2 && i + 1 < valid.size() && uint8_t(valid[i + 1]) <= 0x9F) {
      ++i;  // U+0080..U+009F: the C1 controls
      continue;
    }
    out.push_back(char(b));
  }
  if (out.empty()) return std::nullopt;
  return out;
}

}  // namespace plimo::ClipboardText
