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
             [this](const std::string& line) { log(line); }) {
  refreshPermissions();
  needsServer_.set(false);
  log("--- " + std::string(edition) + " started (version " + version() + ") ---");
  // The reports die first in the destructor, so these never outlive the model.
  SessionReports::Callbacks callbacks;
  callbacks.client = [this] { return client_.get(); };
  callbacks.nameOf = [this](const std::string& id) { return prefs_.nameOf(id); };
  callbacks.helperName = [this] { return prefs_.settings().get().profileName; };
  callbacks.log = [this](const std::string& text) { log(text); };
  reports_ = std::make_unique<SessionReports>(loop_, ini_, ini_.url().parent_path(), std::move(callbacks));
  startClient();
}

// Goodbyes belong to terminate(); dropping the client closes its sockets.
AppModel::~AppModel() {
  // Before the log and the settings its callbacks read.
  reports_.reset();
}

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
  prefs_.setUnattended(on);
  if (client_) client_->setUnattended(on);
  log(on ? "Unattended access turned on" : "Unattended access turned off");
}

void AppModel::setKeepID(bool on) {
  AppSettings s = prefs_.settings().get();
  if (on) {
    s.pinSecret = PlimoCrypto::hex(PlimoCrypto::randomBytes(32));
    prefs_.store(s);
    if (client_) {
      client_->setPin("", s.pinSecret);
      client_->sendPin();
    }
  } else {
    s.pinSecret.clear();
    s.pinnedID.clear();
    prefs_.store(s);
    if (client_) client_->unpinID();
    idPinned_.set(false);
  }
}

void AppModel::pinAnswer(bool ok, const std::string& text) {
  idPinned_.set(client_ && client_->idPinned());
  AppSettings s = prefs_.settings().get();
  if (ok) {
    s.pinnedID = text;
  } else {
    s.pinSecret.clear();
    s.pinnedID.clear();
    notice_.set(text);
  }
  prefs_.store(s);
}

}  // namespace plimo
