#pragma once
// What this user chose and keeps in Plimo.ini: the settings, the recent
// partners and unattended access. The one writer of each; the windows watch
// them read-only.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Observable.h"
#include "support/AppSettings.h"
#include "support/RecentPC.h"

namespace plimo {

class IniFile;

class Preferences {
 public:
  // `ini` is loaded and outlives this; `log` hears of a failed write (the
  // values stay in force for this run; only the file is behind).
  Preferences(IniFile& ini, AppSettings settings, std::function<void(const std::string&)> log);

  const Observable<AppSettings>& settings() const { return settings_; }
  const Observable<std::vector<RecentPC>>& recent() const { return recent_; }
  const Observable<bool>& unattended() const { return unattended_; }

  // The settings from now on, written to Plimo.ini.
  void store(const AppSettings& fresh);
  void setUnattended(bool on);

  // Puts `id` first (keeping its name), at most RecentPC::maxCount entries.
  void addRecent(const std::string& id);
  // Renames the first entry equal to `entry` (trimmed name).
  void rename(const RecentPC& entry, std::string_view newName);
  // Removes every entry with the entry's ID.
  void remove(const RecentPC& entry);
  // The name given to `id` in the recent list, or "".
  std::string nameOf(const std::string& id) const;

 private:
  void saveRecent(std::vector<RecentPC> list);
  void saved(const Result<void>& result) const;

  IniFile& ini_;
  std::function<void(const std::string&)> log_;
  Observable<AppSettings> settings_;
  Observable<std::vector<RecentPC>> recent_;
  Observable<bool> unattended_{false};
};

}  // namespace plimo
