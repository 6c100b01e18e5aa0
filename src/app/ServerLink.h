#pragma once
// The model's server link: builds and rebuilds the `PlimoClient` from the
// settings, turns its events into the server status the main window shows,
// keeps the ID pinned or not, and runs relay tests. Partner events go on to
// the model through `Events`. Loop thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/Light.h"
#include "core/EventLoop.h"
#include "core/Observable.h"
#include "support/AppSettings.h"

namespace plimo {

class PlimoClient;
class Preferences;
class SocketFactory;

class ServerLink {
 public:
  // What the link tells the model.
  struct Events {
    std::function<void(const std::string&)> log;
    std::function<void()> registered;  // the server gave this PC its ID
    std::function<void()> partnerConnected;
    std::function<void(Light, const std::string& title, const std::string& detail)> sessionEnded;
    // A line of the server's that is not the link's own; false when nobody took it.
    std::function<bool(const std::string&)> serverLine;
    std::function<void(const std::string&)> notice;
    // Before the link is dropped for a new one: the session window closes
    // while its session can still send.
    std::function<void()> beforeRestart;
  };

  // All references outlive the link. Nothing starts before start().
  ServerLink(EventLoop& loop, SocketFactory& sockets, Preferences& prefs, Events events);
  ~ServerLink();
  ServerLink(const ServerLink&) = delete;
  ServerLink& operator=(const ServerLink&) = delete;

  const Observable<Light>& serverLight() const { return serverLight_; }
  const Observable<std::string>& serverText() const { return serverText_; }
  const Observable<std::string>& myID() const { return myID_; }
  const Observable<bool>& idPinned() const { return idPinned_; }
  const Observable<std::string>& relayFingerprint() const { return relayFingerprint_; }
  const Observable<bool>& needsServer() const { return needsServer_; }

  // The link now, or null (no server set, or stopped).
  const std::shared_ptr<PlimoClient>& client() const { return client_; }
  // A secure server session is up and the server gave an ID.
  bool online() const;

  void start();
  void restart();
  // Says goodbye to the partner and the server.
  void stop();
  // Takes "host" or "host:port" (the default port when none parses).
  void chooseServer(std::string_view address);
  // The settings changed from `old`: a new server or ports need a new link.
  void settingsChanged(const AppSettings& old);
  void setUnattended(bool on);
  void setKeepID(bool on);
  // Drops the pinned server key and reconnects: the key the server shows
  // next is pinned as on first contact.
  void forgetServerKey();
  using RelayTestDone = std::function<void(bool ok, int64_t milliseconds, const std::string& text)>;
  void testRelay(RelayTestDone done);

 private:
  friend struct AppModelTestKit;
  class ClientEvents;

  // A value the server link reports, kept in the settings and Plimo.ini.
  void storeRelaySetting(std::string AppSettings::*field, const std::string& value);
  // This PC keeps its ID and the server has not yet given it back.
  bool awaitingPin() const;
  // Shows the client's ID, unless it is a temporary one given before the pin.
  void statusFromID();
  void status(const std::string& text);
  void refreshFingerprint();
  void pinAnswer(bool ok, const std::string& text);
  void relayTested(bool ok, int64_t milliseconds, const std::string& text);

  EventLoop& loop_;
  SocketFactory& sockets_;
  Preferences& prefs_;
  Events events_;
  Observable<Light> serverLight_{Light::amber};
  Observable<std::string> serverText_{"Connecting to server..."};
  Observable<std::string> myID_{"0"};
  Observable<bool> idPinned_{false};
  Observable<std::string> relayFingerprint_;
  Observable<bool> needsServer_{false};
  std::shared_ptr<PlimoClient> client_;
  // Completions of relay tests asked for while one runs all hear its answer.
  std::vector<RelayTestDone> pendingTests_;
  // The link holds its events weakly: one dropped but still alive somewhere
  // tells the model nothing more.
  std::shared_ptr<ClientEvents> clientEvents_;
};

}  // namespace plimo
