#pragma once
// The one partner session this PC runs at a time: as the helped PC
// (`HostSession`) or as the helper (`ViewerSession`). Starts it when the link
// connects, opens and closes its windows, and keeps the session status the
// main window shows. Loop thread only.

#include <functional>
#include <memory>
#include <string>

#include "app/ConsentGate.h"
#include "app/Light.h"
#include "core/EventLoop.h"
#include "core/Observable.h"
#include "core/Weakly.h"
#include "host/HostSession.h"
#include "support/UserDefaults.h"
#include "viewer/ViewerSession.h"

namespace plimo {

class PlatformFactory;
class PlimoClient;
class Preferences;
class ScreenDisplay;
class SessionWindows;
class System;
class ViewerWindows;

class PartnerSessions {
 public:
  using Log = std::function<void(const std::string&)>;
  // All references outlive this.
  PartnerSessions(EventLoop& loop, System& system, const Preferences& prefs, const UserDefaults& userDefaults,
                  Log log);
  PartnerSessions(const PartnerSessions&) = delete;
  PartnerSessions& operator=(const PartnerSessions&) = delete;

  const Observable<Light>& sessionLight() const { return sessionLight_; }
  const Observable<std::string>& sessionTitle() const { return sessionTitle_; }
  const Observable<std::string>& sessionDetail() const { return sessionDetail_; }
  const Observable<std::string>& checkNumber() const { return checkNumber_; }
  // Both session keys' whole fingerprints, for the session details; empty
  // without a session.
  const Observable<std::string>& keyFingerprints() const { return keyFingerprints_; }
  const Observable<bool>& connecting() const { return connecting_; }

  // Puts the consent question to the person at this PC: windows, a
  // terminal, or a refusal where nobody can answer.
  using ConsentAsk = std::function<void(HostSession&, HostSession::AnswerFn)>;
  // Without it helpers are not served here. `platform` outlives this.
  void setHost(PlatformFactory& platform, ConsentAsk ask);
  // The windows shown and closed around sessions; none headless. Not owned.
  void setWindows(SessionWindows* windows) { windows_ = windows; }
  // A view every new viewer session shows its pictures in (a helper without
  // windows); it must outlive this.
  void setViewerDisplay(ScreenDisplay* display) { viewerDisplay_ = display; }
  // The helper's window, opened on every viewer session instead of the view
  // above. Not owned; outlives the sessions.
  void setViewerWindows(ViewerWindows* windows) { viewerWindows_ = windows; }

  const HostSession* hostSession() const { return hostSession_.get(); }
  ViewerSession* viewerSession() const { return viewerSession_.get(); }

  // This PC asks `digits` (9 digits) for a session.
  void connectingTo(const std::string& digits);
  // The link reached the partner: the session for this PC's side starts.
  void connected(const std::shared_ptr<PlimoClient>& client);
  void ended(Light light, const std::string& title, const std::string& detail);
  // Closes the windows, then the sessions.
  void endSessionWindow();

 private:
  friend struct AppModelTestKit;

  void startHost(const std::shared_ptr<PlimoClient>& client);
  void hostAllowed();
  void showHostDetail();
  void startViewer(const std::shared_ptr<PlimoClient>& client);

  EventLoop& loop_;
  System& system_;
  const Preferences& prefs_;
  const UserDefaults& userDefaults_;
  Log log_;
  Observable<Light> sessionLight_{Light::grey};
  Observable<std::string> sessionTitle_{"No active session"};
  Observable<std::string> sessionDetail_{"Sessions are encrypted end to end with AES-256"};
  Observable<std::string> checkNumber_{"--- ---"};
  Observable<std::string> keyFingerprints_;
  Observable<bool> connecting_{false};
  PlatformFactory* platform_ = nullptr;
  ConsentAsk ask_;
  SessionWindows* windows_ = nullptr;
  ConsentGate consentGate_;
  ScreenDisplay* viewerDisplay_ = nullptr;
  ViewerWindows* viewerWindows_ = nullptr;
  // Shared so that the server link can hold the running one weakly.
  std::shared_ptr<HostSession> hostSession_;
  std::shared_ptr<ViewerSession> viewerSession_;
  std::weak_ptr<PlimoClient> client_;
  LifeGuard<PartnerSessions> guard_{this};
};

}  // namespace plimo
