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
      log_(logURL),
      prefs_(ini_, AppSettings::load(ini_, userDefaults_, system_.info().fullUserName),
             [this](const std::string& line) { log(line); }),
      sessions_(loop_, system_, prefs_, userDefaults_, [this](const std::string& line) { log(line); }) {
  refreshPermissions();
  log("--- " + std::string(edition) + " started (version " + version() + ") ---");
  // The reports die first in the destructor, so these never outlive the model.
  SessionReports::Callbacks callbacks;
  callbacks.client = [this] { return link_->client().get(); };
  callbacks.nameOf = [this](const std::string& id) { return prefs_.nameOf(id); };
  callbacks.helperName = [this] { return prefs_.settings().get().profileName; };
  callbacks.log = [this](const std::string& text) { log(text); };
  reports_ = std::make_unique<SessionReports>(loop_, ini_, ini_.url().parent_path(), std::move(callbacks));
  link_ = std::make_unique<ServerLink>(loop_, sockets_, prefs_, linkEvents());
  // Unattended access switched on in Plimo.ini by hand or by a script.
  if (unattended() && !keepID()) keepIDForUnattended();
  link_->start();
}

ServerLink::Events AppModel::linkEvents() {
  ServerLink::Events events;
  events.log = guard_.weakly<const std::string&>([](AppModel& m, const std::string& line) { m.log(line); });
  events.registered = guard_.weakly([](AppModel& m) { m.startupAutomation(); });
  events.partnerConnected = guard_.weakly([](AppModel& m) { m.sessions_.connected(m.link_->client()); });
  events.sessionEnded = guard_.weakly<Light, const std::string&, const std::string&>(
      [](AppModel& m, Light light, const std::string& title, const std::string& detail) {
        m.sessions_.ended(light, title, detail);
      });
  events.serverLine = [alive = guard_.weak()](const std::string& line) {
    auto m = alive.lock();
    return m && m->reports_ && m->reports_->handle(line);
  };
  events.notice = guard_.weakly<const std::string&>([](AppModel& m, const std::string& text) { m.notice_.set(text); });
  events.beforeRestart = guard_.weakly([](AppModel& m) { m.sessions_.endSessionWindow(); });
  return events;
}

void AppModel::saveSettings(const AppSettings& given) {
  const AppSettings old = prefs_.settings().get();
  AppSettings fresh = given;
  if (fresh.relayHost != old.relayHost) fresh.relayKey.clear();
  prefs_.store(fresh);
  link_->settingsChanged(old);
}

void AppModel::testServer(std::function<void(bool ok, const std::string& text)> done) {
  link_->testRelay([done = std::move(done)](bool ok, int64_t milliseconds, const std::string& text) {
    done(ok, ok ? "Server answered in " + std::to_string(milliseconds) + " ms: " + text : text);
  });
}

void AppModel::terminate() {
  sessions_.endSessionWindow();
  link_->stop();
}

// Goodbyes belong to terminate(); dropping the client closes its sockets.
AppModel::~AppModel() {
  // Before the log and the settings its callbacks read.
  reports_.reset();
}

const std::filesystem::path& AppModel::iniPath() const { return ini_.url(); }

std::string AppModel::version() {
  std::string shortVersion = PLIMO_VERSION, build = PLIMO_BUILD;
  return (shortVersion.empty() ? "?" : shortVersion) + " (" + (build.empty() ? "?" : build) + ")";
}

std::string AppModel::serverAddress() const {
  return prefs_.settings().get().relayHost + ":" + std::to_string(prefs_.settings().get().relayPort);
}

bool AppModel::partnerIDIsValid() const { return !typedPlimoID(partnerID_.get()).empty(); }

void AppModel::log(std::string_view line) const { log_.write(line, loop_.wallNow()); }

void AppModel::refreshPermissions() {
  canRecordScreen_.set(system_.canRecordScreen());
  canControl_.set(system_.canControl());
}

void AppModel::setUnattended(bool on) {
  if (on && !keepID()) keepIDForUnattended();
  prefs_.setUnattended(on);
  link_->setUnattended(on);
  log(on ? "Unattended access turned on" : "Unattended access turned off");
}

void AppModel::setKeepID(bool on) {
  // Unattended access goes with the kept ID it needs.
  if (!on && unattended()) setUnattended(false);
  link_->setKeepID(on);
}

void AppModel::keepIDForUnattended() {
  // Helpers reach an unattended PC by an ID they wrote down; a new one after
  // each restart of the PC or the server would lose it.
  log("Unattended access keeps this PC's ID");
  link_->setKeepID(true);
}

}  // namespace plimo
