#pragma once
// Replacing a file in one step, so that a crash at any point leaves the old
// file or the new one, never half of one.

#include <filesystem>
#include <string_view>

#include "core/Result.h"

namespace plimo {

// Writes `text` to a temporary file (mode 0600) beside `path`, flushes it to
// the disk and renames it over `path`. On failure `path` is untouched and the
// error says why, as the system does.
Result<void> writeFileAtomically(const std::filesystem::path& path, std::string_view text);

}  // namespace plimo
