#include "app/ServerLink.h"

#include <algorithm>
#include <stdexcept>

#include "app/Preferences.h"
#include "core/Text.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/link/LinkEvents.h"
#include "protocol/link/PlimoClient.h"

namespace plimo {

class ServerLink::ClientEvents final : public LinkEvents {
 public:
  explicit ClientEvents(ServerLink& link) : link_(link) {}

  void onLog(const std::string& text) override { link_.events_.log(text); }
  void onTcpPortChanged(const std::string& text) override { link_.storeRelaySetting(&AppSettings::tcpPorts, text); }
  void onID() override { link_.statusFromID(); }
  void onRelayStatus(const std::string& text) override { link_.status(text); }
  void onRelayKeyPinned(const std::string& keyHex) override {
    link_.storeRelaySetting(&AppSettings::relayKey, keyHex);
  }
  void onPin(bool ok, const std::string& text) override { link_.pinAnswer(ok, text); }
  void onConnected() override { link_.events_.partnerConnected(); }
  void onDisconnected() override {
    link_.events_.sessionEnded(Light::grey, "No active session", "The last session has ended");
  }
  void onFailed(const std::string& text) override { link_.events_.sessionEnded(Light::red, "Could not connect", text); }
  void onMessage(const std::string& text) override { link_.events_.log("Partner says: " + text); }
  void onRegister(const std::string& text) override {
    if (!link_.events_.serverLine(text)) link_.events_.log("Server: " + text);
  }
  // BRAND and BOOK lines are not used here: onBrand and onBook keep their defaults.
  void onRelayTest(bool ok, int64_t milliseconds, const std::string& text) override {
    link_.relayTested(ok, milliseconds, text);
  }

 private:
  ServerLink& link_;
};

ServerLink::ServerLink(EventLoop& loop, SocketFactory& sockets, Preferences& prefs, Events events)
    : loop_(loop), sockets_(sockets), prefs_(prefs), events_(std::move(events)) {}

ServerLink::~ServerLink() = default;

bool ServerLink::online() const { return client_ && client_->serverUp() && myID_.get() != "0"; }

void ServerLink::start() {
  const AppSettings& s = prefs_.settings().get();
  if (s.relayHost.empty()) {
    needsServer_.set(true);
    serverLight_.set(Light::amber);
    serverText_.set("No server set");
    return;
  }
  clientEvents_ = std::make_shared<ClientEvents>(*this);
  auto c = PlimoClient::create(loop_, sockets_, clientEvents_, s.relayHost,
                               uint16_t(std::clamp<int64_t>(s.relayPort, 0, 65535)), s.tcpPorts, s.relayKey);
  c->setUnattended(prefs_.unattended().get());
  if (!s.pinSecret.empty()) {
    c->setPin(s.pinnedID, s.pinSecret);
    c->sendPin();
  }
  client_ = c;
  try {
    c->start();
  } catch (const std::exception& error) {
    serverLight_.set(Light::red);
    serverText_.set("Could not start");
    events_.log(std::string("Could not start: ") + error.what());
  }
}

void ServerLink::restart() {
  events_.beforeRestart();
  if (client_) client_->stop();
  client_.reset();
  myID_.set("0");
  serverLight_.set(Light::amber);
  serverText_.set("Connecting to server...");
  start();
}

void ServerLink::stop() {
  if (client_) client_->stop();
}

void ServerLink::storeRelaySetting(std::string AppSettings::*field, const std::string& value) {
  AppSettings fresh = prefs_.settings().get();
  fresh.*field = value;
  prefs_.store(fresh);
}

void ServerLink::refreshFingerprint() {
  relayFingerprint_.set(client_ && client_->relayKey() ? PlimoCrypto::keyFingerprint(*client_->relayKey())
                                                       : PlimoCrypto::keyFingerprint({}));
}

bool ServerLink::awaitingPin() const {
  const AppSettings& s = prefs_.settings().get();
  if (s.pinSecret.empty()) return false;
  // After PIN OK the kept ID is known before the server's ID line names it.
  return !client_->idPinned() || (!s.pinnedID.empty() && client_->myID() != s.pinnedID);
}

void ServerLink::statusFromID() {
  if (!client_) return;
  idPinned_.set(client_->idPinned());
  refreshFingerprint();
  // A PC that keeps its ID is first given a temporary one: shown, a script or
  // a person would take it for the ID helpers reach this PC by.
  if (!client_->serverUp() || client_->myID() == "0" || awaitingPin()) return;
  serverLight_.set(Light::green);
  serverText_.set("Online, secure connection");
  if (myID_.set(client_->myID())) events_.registered();
}

void ServerLink::status(const std::string& text) {
  if (!client_) return;
  refreshFingerprint();
  if (client_->relayBlocked()) {
    serverLight_.set(Light::red);
    serverText_.set(text);
  } else if (!client_->serverUp()) {
    serverLight_.set(Light::amber);
    serverText_.set(text);
  } else if (myID_.get() != "0") {
    serverLight_.set(Light::green);
    serverText_.set("Online, secure connection");
  } else {
    serverLight_.set(Light::green);
    serverText_.set(text);
  }
}

void ServerLink::chooseServer(std::string_view address) {
  std::string_view text = trimWhitespace(address);
  std::string host(text);
  int64_t port = AppSettings::defaultRelayPort;
  if (size_t colon = text.rfind(':'); colon != std::string_view::npos) {
    if (auto parsed = parseDecimal(text.substr(colon + 1))) {
      host = text.substr(0, colon);
      port = *parsed;
    }
  }
  if (host.empty()) return;
  AppSettings fresh = prefs_.settings().get();
  fresh.relayHost = host;
  fresh.relayPort = port;
  if (!sameName(host, AppSettings::vendorRelayHost)) fresh.relayKey.clear();
  prefs_.store(fresh);
  needsServer_.set(false);
  events_.log("Server set to " + host + ":" + std::to_string(port));
  restart();
}

void ServerLink::settingsChanged(const AppSettings& old) {
  const AppSettings& now = prefs_.settings().get();
  if (now.relayHost != old.relayHost || now.tcpPorts != old.tcpPorts || now.relayPort != old.relayPort) restart();
}

void ServerLink::setUnattended(bool on) {
  if (client_) client_->setUnattended(on);
}

void ServerLink::setKeepID(bool on) {
  AppSettings s = prefs_.settings().get();
  s.keepID(on);
  prefs_.store(s);
  if (on && client_) {
    client_->setPin("", s.pinSecret);
    client_->sendPin();
  } else if (!on) {
    if (client_) client_->unpinID();
    idPinned_.set(false);
    // An ID held back for the pin is this PC's ID now.
    statusFromID();
  }
}

void ServerLink::forgetServerKey() {
  storeRelaySetting(&AppSettings::relayKey, "");
  events_.log("Server key forgotten");
  restart();
  // Until the server shows a key, none is pinned.
  refreshFingerprint();
}

void ServerLink::pinAnswer(bool ok, const std::string& text) {
  idPinned_.set(client_ && client_->idPinned());
  AppSettings s = prefs_.settings().get();
  if (ok) {
    s.pinnedID = text;
  } else {
    s.pinSecret.clear();
    s.pinnedID.clear();
    events_.notice(text);
  }
  prefs_.store(s);
  // The kept ID, or after a refusal the one the server gave, is shown now.
  statusFromID();
}

void ServerLink::testRelay(RelayTestDone done) {
  if (!client_) return;
  pendingTests_.push_back(std::move(done));
  client_->testRelay();
}

void ServerLink::relayTested(bool ok, int64_t milliseconds, const std::string& text) {
  auto waiting = std::move(pendingTests_);
  pendingTests_.clear();
  for (auto& done : waiting) done(ok, milliseconds, text);
}

}  // namespace plimo
