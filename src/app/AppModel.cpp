#include "app/AppModel.h"
#include "app/SessionReports.h"

#include <algorithm>

#include "core/PlimoID.h"
#include "platform/System.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/link/PlimoClient.h"
#include "support/IniFile.h"

#ifndef PLIMO_VERSION
#define PLIMO_VERSION ""
#endif
#ifndef PLIMO_BUILD
#define PLIMO_BUILD ""
#endif

namespace plimo {

AppModel::AppModel(EventLoop& loop, System& system, SocketFactory& sockets, IniFile& ini,
                   UserDefaults userDefaults)
    : logURL(ini.url().parent_path() / "Plimo.log"),
      loop_(loop),
      system_(system),
      sockets_(sockets),
      ini_(ini),
      userDefaults_(std::move(userDefaults)),
      log_(logURL) {
  recent.set(RecentPC::load(ini_));
  settings.set(AppSettings::load(ini_, userDefaults_, system_.info().fullUserName));
  unattended_.set(ini_.integer("Session", "Unattended", 0) != 0);
  refreshPermissions();
  needsServer.set(false);
  log("--- " + std::string(edition) + " started (version " + version() + ") ---");
  // The reports die first in the destructor, so these never outlive the model.
  SessionReports::Callbacks callbacks;
  callbacks.client = [this] { return client.get(); };
  callbacks.nameOf = [this](const std::string& id) {
    for (const auto& pc : recent.get()) {
      if (pc.id == id) return pc.name;
    }
    return std::string();
  };
  callbacks.helperName = [this] { return settings.get().profileName; };
  callbacks.log = [this](const std::string& text) { log(text); };
  reports = std::make_unique<SessionReports>(loop_, ini_, ini_.url().parent_path(), std::move(callbacks));
  startClient();
}

// Goodbyes belong to terminate(); dropping the client closes its sockets.
AppModel::~AppModel() {
  // Before the log and the settings its callbacks read.
  reports.reset();
}

std::string AppModel::version() {
  std::string shortVersion = PLIMO_VERSION, build = PLIMO_BUILD;
  return (shortVersion.empty() ? "?" : shortVersion) + " (" + (build.empty() ? "?" : build) + ")";
}

std::string AppModel::serverAddress() const {
  return settings.get().relayHost + ":" + std::to_string(settings.get().relayPort);
}

bool AppModel::partnerIDIsValid() const { return !typedPlimoID(partnerID.get()).empty(); }

void AppModel::log(std::string_view line) const { log_.write(line, loop_.wallNow()); }

void AppModel::refreshPermissions() {
  canRecordScreen.set(system_.canRecordScreen());
  canControl.set(system_.canControl());
}

void AppModel::rename(const RecentPC& entry, std::string_view newName) {
  auto list = recent.get();
  auto it = std::find(list.begin(), list.end(), entry);
  if (it == list.end()) return;
  it->name = trimWhitespace(newName);
  recent.set(list);
  saved(RecentPC::save(recent.get(), ini_));
}

void AppModel::remove(const RecentPC& entry) {
  auto list = recent.get();
  std::erase_if(list, [&](const RecentPC& r) { return r.id == entry.id; });
  recent.set(list);
  saved(RecentPC::save(recent.get(), ini_));
}

void AppModel::setUnattended(bool on) {
  unattended_.set(on);
  ini_.set("Session", "Unattended", on ? "1" : "0");
  saved(ini_.save());
  if (client) client->setUnattended(on);
  log(on ? "Unattended access turned on" : "Unattended access turned off");
}

void AppModel::setKeepID(bool on) {
  AppSettings s = settings.get();
  if (on) {
    s.pinSecret = PlimoCrypto::hex(PlimoCrypto::randomBytes(32));
    store(s);
    if (client) {
      client->setPin("", s.pinSecret);
      client->sendPin();
    }
  } else {
    s.pinSecret.clear();
    s.pinnedID.clear();
    store(s);
    if (client) client->unpinID();
    idPinned.set(false);
  }
}

void AppModel::pinAnswer(bool ok, const std::string& text) {
  idPinned.set(client && client->idPinned());
  AppSettings s = settings.get();
  if (ok) {
    s.pinnedID = text;
  } else {
    s.pinSecret.clear();
    s.pinnedID.clear();
    notice.set(text);
  }
  store(s);
}

void AppModel::store(const AppSettings& fresh) {
  settings.set(fresh);
  saved(fresh.save(ini_));
}

void AppModel::saved(std::error_code error) const {
  // The settings stay in force for this run; only the file is behind.
  if (error) log("Could not save " + ini_.url().string() + ": " + error.message());
}

}  // namespace plimo
