#pragma once
// The application's model: start-up, the log and the start-up automation,
// owning its parts (the server link, the partner session, the preferences,
// the billing reports), which the windows read and act on. Lives for the
// whole process; every method runs on the main (loop) thread.

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/AppLog.h"
#include "app/PartnerSessions.h"
#include "app/Preferences.h"
#include "app/ServerLink.h"
#include "core/EventLoop.h"
#include "core/Observable.h"
#include "core/Weakly.h"
#include "host/HostSession.h"
#include "support/AppSettings.h"
#include "support/ConnectionReport.h"
#include "support/UserDefaults.h"
#include "viewer/ViewerSession.h"

namespace plimo {

class ConnectionTest;
class SessionReports;
class IniFile;
class SocketFactory;
class System;

class AppModel {
 public:
  using Light = plimo::Light;

  // `ini` is the user's Plimo.ini (already loaded); the log lies beside it.
  // `sockets` makes the server link's sockets. All references must outlive
  // the model. Construction starts the server link.
  AppModel(EventLoop& loop, System& system, SocketFactory& sockets, IniFile& ini, UserDefaults userDefaults);
  ~AppModel();
  AppModel(const AppModel&) = delete;
  AppModel& operator=(const AppModel&) = delete;

  // "version (build)", with "?" for a missing part.
  static std::string version();
  // The edition named in the log's start line and the host's information.
  static constexpr std::string_view edition = "Plimo for Linux";

  // What the windows show; the model alone writes them.
  // The server link's status (ID, lights, texts).
  const ServerLink& link() const { return *link_; }
  // The partner session, its windows and its status.
  PartnerSessions& sessions() { return sessions_; }
  const PartnerSessions& sessions() const { return sessions_; }
  const Observable<std::string>& partnerID() const { return partnerID_; }
  const Observable<std::string>& notice() const { return notice_; }
  const Observable<bool>& canRecordScreen() const { return canRecordScreen_; }
  const Observable<bool>& canControl() const { return canControl_; }
  const Observable<AppSettings>& settings() const { return prefs_.settings(); }
  const Observable<std::vector<RecentPC>>& recent() const { return prefs_.recent(); }

  // The helper's billing reports; the windows or the headless program give it a form.
  SessionReports& reports() { return *reports_; }
  // The start-up automation connected to its partner.
  bool autoConnected() const { return autoConnected_; }
  const std::filesystem::path logURL;

  // Derived values.
  std::string serverAddress() const;
  bool keepID() const { return !settings().get().pinSecret.empty(); }
  bool partnerIDIsValid() const;
  // A secure server session is up and the server gave an ID.
  bool online() const { return link_->online(); }
  bool unattended() const { return prefs_.unattended().get(); }
  const Observable<bool>& unattendedValue() const { return prefs_.unattended(); }

  // Appends a line to the log; never fails.
  void log(std::string_view line) const;

  void refreshPermissions();
  // Linux has no permission prompt: both only look again.
  void askScreenPermission() { refreshPermissions(); }
  void askControlPermission() { refreshPermissions(); }

  // Renames the first entry equal to `entry` (trimmed name) and saves the list.
  void rename(const RecentPC& entry, std::string_view newName) { prefs_.rename(entry, newName); }
  // Removes every entry with the entry's ID and saves the list.
  void remove(const RecentPC& entry) { prefs_.remove(entry); }
  // The ID typed or picked to connect to.
  void setPartnerID(const std::string& id) { partnerID_.set(id); }

  // Unattended access keeps the ID: switching it on keeps it, and no longer
  // keeping the ID switches unattended access off.
  void setUnattended(bool on);
  void setKeepID(bool on);
  void forgetServerKey() { link_->forgetServerKey(); }

  void restartClient() { link_->restart(); }
  // Takes "host" or "host:port" (port 47800 when none parses).
  void chooseServer(std::string_view address) { link_->chooseServer(address); }
  void saveSettings(const AppSettings& fresh);
  // Runs the server link's relay test; `done` gets (ok, text) once.
  void testServer(std::function<void(bool ok, const std::string& text)> done);
  // Runs the connection test (AppModelReport.cpp); `done` gets the report
  // once, on the loop's thread. A new run replaces the one under way.
  void runConnectionTest(std::function<void(const ConnectionReport::Result&)> done);
  // Ends the session and says goodbye to the partner and the server.
  void terminate();

  // Starts a connection to `partnerID`, or ends the running one
  // (AppModelSession.cpp).
  void connect();

  const UserDefaults& userDefaults() const { return userDefaults_; }

  const std::filesystem::path& iniPath() const;

 private:
  friend struct AppModelTestKit;

  ServerLink::Events linkEvents();
  void keepIDForUnattended();
  void startupAutomation();
  // Writes the connection report to the "reportTo" path, one second on.
  void scheduleReport(const std::string& path);

  EventLoop& loop_;
  System& system_;
  SocketFactory& sockets_;
  IniFile& ini_;
  UserDefaults userDefaults_;
  AppLog log_;
  Preferences prefs_;
  // Made once the guard below is: its events hold the model through it.
  std::unique_ptr<ServerLink> link_;
  Observable<std::string> partnerID_;
  Observable<std::string> notice_;
  Observable<bool> canRecordScreen_{false};
  Observable<bool> canControl_{false};
  std::unique_ptr<SessionReports> reports_;
  bool autoConnected_ = false;
  std::shared_ptr<ConnectionTest> connectionTest_;
  Timer reportTimer_;
  PartnerSessions sessions_;
  LifeGuard<AppModel> guard_{this};
};

}  // namespace plimo
