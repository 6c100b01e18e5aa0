#pragma once
// The names a received file may be saved under. The partner names the file;
// this PC decides where it goes.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace plimo {

// The offered name when it is one plain file name: valid UTF-8 of at most
// 255 bytes, no path separator ("/" or "\"), not "." or "..", no control
// character (C0, DEL, C1), no leading or trailing blank or trailing dot, no
// name the system keeps for itself (CON, NUL, COM1, ... with any extension),
// and not ending in ".part". Nothing otherwise.
std::optional<std::string> safeFileName(std::string_view offered);

// `name`, or "stem (2).ext", "stem (3).ext", ... : the first one that names
// nothing in `folder`, nor does its ".part" file. Nothing after 999 tries.
std::optional<std::filesystem::path> freeFileName(const std::filesystem::path& folder, const std::string& name);

}  // namespace plimo
