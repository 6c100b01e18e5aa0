#pragma once
// The partners helped recently, newest first, kept in the Recent section.

#include <string>
#include <vector>

#include "core/Result.h"

namespace plimo {

class IniFile;

struct RecentPC {
  static constexpr size_t maxCount = 200;

  std::string id;  // 9 digits; also the entry's identity
  std::string name;

  // Entries whose ID is not 9 digits, and repeated IDs, are dropped.
  static std::vector<RecentPC> load(const IniFile& ini);
  // Replaces the Recent section with the list and saves the file.
  static Result<void> save(const std::vector<RecentPC>& list, IniFile& ini);

  bool operator==(const RecentPC&) const = default;
};

}  // namespace plimo
