#include "support/RecentPC.h"

#include <algorithm>

#include "core/PlimoID.h"
#include "support/IniFile.h"

namespace plimo {

std::vector<RecentPC> RecentPC::load(const IniFile& ini) {
  std::vector<RecentPC> list;
  int64_t count = ini.integer("Recent", "Count", 0);
  // A hand-edited count cannot make us walk billions of missing keys.
  count = std::clamp<int64_t>(count, 0, 10000);
  for (int64_t i = 0; i < count; ++i) {
    std::string raw = ini.string("Recent", "Id" + std::to_string(i), "");
    std::string id;
    for (char c : raw)
      if (c >= '0' && c <= '9') id += c;
    if (!isPlimoID(id)) continue;
    if (std::any_of(list.begin(), list.end(), [&](const RecentPC& r) { return r.id == id; })) continue;
    list.push_back(RecentPC{id, ini.string("Recent", "Name" + std::to_string(i), "")});
  }
  return list;
}

Result<void> RecentPC::save(const std::vector<RecentPC>& list, IniFile& ini) {
  for (const auto& key : ini.keys("Recent")) ini.remove("Recent", key);
  ini.set("Recent", "Count", std::to_string(list.size()));
  for (size_t i = 0; i < list.size(); ++i) {
    ini.set("Recent", "Id" + std::to_string(i), list[i].id);
    ini.set("Recent", "Name" + std::to_string(i), list[i].name);
  }
  return ini.save();
}

}  // namespace plimo
