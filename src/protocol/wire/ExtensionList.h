#pragma once
// The extensions a Linux build speaks beyond the common protocol, as each
// side lists them in channel message 96 once its session runs. Other
// editions ignore the kind; a side uses an extension only once the
// partner's list names it (docs/WIRE-EXTENSIONS.md).
//
// Payload: format (1), count, then per extension a name length (1..32), the
// name ([a-z0-9-]) and a u16 LE version (1 or more). Bytes after the last
// entry are left for later formats.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/Bytes.h"

namespace plimo::ExtensionList {

inline constexpr uint8_t kFormat = 1;
inline constexpr size_t kMaxEntries = 16;
inline constexpr size_t kMaxName = 32;

inline constexpr std::string_view kClipboard = "clipboard";
inline constexpr std::string_view kFiles = "files";

struct Extension {
  std::string name;
  uint16_t version = 1;

  bool operator==(const Extension&) const = default;
};

// The first kMaxEntries only; the caller gives valid names.
Bytes encode(std::span<const Extension> extensions);
// Nothing for a list cut short, of format 0, or with a name or version out of
// its rules; of each name only the first entry, of all at most kMaxEntries.
std::optional<std::vector<Extension>> decode(ByteView payload);

}  // namespace plimo::ExtensionList
