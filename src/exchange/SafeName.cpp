#include "exchange/SafeName.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <system_error>

#include "core/Text.h"

namespace plimo {

namespace {

bool reserved(std::string_view name) {
  const std::string_view stem = name.substr(0, name.find('.'));
  std::string upper(stem);
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return char(std::toupper(c)); });
  static constexpr std::array<std::string_view, 4> kFixed{"CON", "PRN", "AUX", "NUL"};
  if (std::find(kFixed.begin(), kFixed.end(), upper) != kFixed.end()) return true;
  return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) && upper[3] >= '1' &&
         upper[3] <= '9';
}

bool hasControl(std::string_view utf8) {
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = uint8_t(utf8[i]);
    if (c < 0x20 || c == 0x7F) return true;
    // C1 controls are U+0080 to U+009F: C2 80 to C2 9F.
    if (c == 0xC2 && i + 1 < utf8.size() && uint8_t(utf8[i + 1]) <= 0x9F) return true;
  }
  return false;
}

bool present(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::symlink_status(path, error).type() != std::filesystem::file_type::not_found;
}

}  // namespace

std::optional<std::string> safeFileName(std::string_view offered) {
  if (offered.empty() || offered.size() > 255 || utf8Lossy(offered) != offered) return std::nullopt;
  if (offered.find_first_of("/\\") != std::string_view::npos || hasControl(offered)) return std::nullopt;
  if (offered == "." || offered == "..") return std::nullopt;
  if (offered.front() == ' ' || offered.back() == ' ' || offered.back() == '.') return std::nullopt;
  if (offered.ends_with(".part") || reserved(offered)) return std::nullopt;
  return std::string(offered);
}

std::optional<std::filesystem::path> freeFileName(const std::filesystem::path& folder, const std::string& name) {
  const std::filesystem::path plain(name);
  const std::string stem = plain.stem().string(), extension = plain.extension().string();
  for (int n = 1; n < 1000; ++n) {
    const auto candidate = folder / (n == 1 ? name : stem + " (" + std::to_string(n) + ")" + extension);
    if (!present(candidate) && !present(candidate.string() + ".part")) return candidate;
  }
  return std::nullopt;
}

}  // namespace plimo
