#include "app/Preferences.h"

#include <algorithm>

#include "core/Text.h"
#include "support/IniFile.h"

namespace plimo {

Preferences::Preferences(IniFile& ini, AppSettings settings, std::function<void(const std::string&)> log)
    : ini_(ini), log_(std::move(log)), settings_(std::move(settings)), recent_(RecentPC::load(ini)) {
  unattended_.set(AppSettings::unattended(ini_));
}

void Preferences::store(const AppSettings& fresh) {
  settings_.set(fresh);
  saved(fresh.save(ini_));
}

void Preferences::setUnattended(bool on) {
  unattended_.set(on);
  AppSettings::setUnattended(ini_, on);
  saved(ini_.save());
}

void Preferences::addRecent(const std::string& id) {
  auto list = recent_.get();
  const std::string name = nameOf(id);
  std::erase_if(list, [&](const RecentPC& r) { return r.id == id; });
  list.insert(list.begin(), RecentPC{id, name});
  if (list.size() > RecentPC::maxCount) list.resize(RecentPC::maxCount);
  saveRecent(std::move(list));
}

void Preferences::rename(const RecentPC& entry, std::string_view newName) {
  auto list = recent_.get();
  auto it = std::find(list.begin(), list.end(), entry);
  if (it == list.end()) return;
  it->name = trimWhitespace(newName);
  saveRecent(std::move(list));
}

void Preferences::remove(const RecentPC& entry) {
  auto list = recent_.get();
  std::erase_if(list, [&](const RecentPC& r) { return r.id == entry.id; });
  saveRecent(std::move(list));
}

std::string Preferences::nameOf(const std::string& id) const {
  for (const auto& pc : recent_.get()) {
    if (pc.id == id) return pc.name;
  }
  return {};
}

void Preferences::saveRecent(std::vector<RecentPC> list) {
  recent_.set(list);
  saved(RecentPC::save(recent_.get(), ini_));
}

void Preferences::saved(const Result<void>& result) const {
  if (!result) log_("Could not save " + ini_.url().string() + ": " + result.error());
}

}  // namespace plimo
