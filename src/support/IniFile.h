#pragma once
// Plimo.ini: the classic INI form people edit by hand. Reading never fails
// (bad or missing content gives no sections); saving replaces the file in one
// step so that a crash leaves either the old or the new file.

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/Result.h"
#include "core/Text.h"

namespace plimo {

class IniFile {
 public:
  struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> entries;
  };

  explicit IniFile(std::filesystem::path url);

  // The shared instance: Plimo.ini in appFolder(), loaded once on first use.
  static IniFile& user();
  // $PLIMO_HOME, else $XDG_CONFIG_HOME/Plimo, else ~/.config/Plimo; created
  // (mode 0700) when missing; a failure to create it shows at the first save.
  static std::filesystem::path appFolder();

  // Files larger than this are not settings anyone wrote; they read as empty.
  static constexpr uintmax_t maxFileSize = 4 * 1024 * 1024;

  void load();
  // Writes the whole file; on failure the file on disk is the old one and the
  // error says why.
  Result<void> save();
  std::string string(std::string_view section, std::string_view key, std::string_view fallback) const;
  int64_t integer(std::string_view section, std::string_view key, int64_t fallback) const;
  void set(std::string_view section, std::string_view key, std::string_view value);
  std::vector<std::string> keys(std::string_view section) const;
  void remove(std::string_view section, std::string_view key);

  const std::filesystem::path& url() const { return url_; }
  std::vector<Section> sections() const;

  // The parsing and writing rules, apart from the file, for tests and fuzzing.
  static std::vector<Section> parse(std::string_view bytes);
  static std::string render(const std::vector<Section>& sections);

 private:
  const Section* find(std::string_view section) const;

  std::filesystem::path url_;
  std::vector<Section> sections_;
  mutable std::mutex lock_;
};

}  // namespace plimo
