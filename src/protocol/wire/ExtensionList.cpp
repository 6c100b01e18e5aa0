#include "protocol/wire/ExtensionList.h"

#include <algorithm>

namespace plimo::ExtensionList {

namespace {

bool validName(ByteView name) {
  return !name.empty() && name.size() <= kMaxName && std::all_of(name.begin(), name.end(), [](uint8_t c) {
           return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
         });
}

}  // namespace

Bytes encode(std::span<const Extension> extensions) {
  const size_t n = std::min(extensions.size(), kMaxEntries);
  Bytes out{kFormat, uint8_t(n)};
  for (const Extension& e : extensions.first(n)) {
    out.push_back(uint8_t(e.name.size()));
    out.insert(out.end(), e.name.begin(), e.name.end());
    appendLE<uint16_t>(out, e.version);
  }
  return out;
}

std::optional<std::vector<Extension>> decode(ByteView payload) {
  if (payload.size() < 2 || payload[0] == 0) return std::nullopt;
  std::vector<Extension> out;
  size_t at = 2;
  for (size_t i = 0; i < payload[1]; ++i) {
    if (at >= payload.size()) return std::nullopt;
    const size_t length = payload[at++];
    if (!inRange(payload.size(), at, length + 2)) return std::nullopt;
    const ByteView name = payload.subspan(at, length);
    const uint16_t version = readLE16(payload, at + length);
    if (!validName(name) || version == 0) return std::nullopt;
    at += length + 2;
    std::string text(name.begin(), name.end());
    const bool seen = std::any_of(out.begin(), out.end(), [&](const Extension& e) { return e.name == text; });
    if (!seen && out.size() < kMaxEntries) out.push_back({std::move(text), version});
  }
  return out;
}

}  // namespace plimo::ExtensionList
