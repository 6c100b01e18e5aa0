// The model's half that owns the server link: building and rebuilding it,
// turning its events into the main window's status, and the server settings.

#include <algorithm>
#include <stdexcept>

#include "app/AppModel.h"
#include "app/SessionReports.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/link/LinkEvents.h"
#include "protocol/link/PlimoClient.h"
#include "support/IniFile.h"

namespace plimo {

class AppModel::ClientEvents final : public LinkEvents {
 public:
  explicit ClientEvents(AppModel& model) : model_(model) {}

  void onLog(const std::string& text) override { model_.log(text); }
  void onTcpPortChanged(const std::string& text) override { model_.storeRelaySetting(&AppSettings::tcpPorts, text); }
  void onID() override { model_.serverStatusFromID(); }
  void onRelayStatus(const std::string& text) override { model_.serverStatus(text); }
  void onRelayKeyPinned(const std::string& keyHex) override {
    model_.storeRelaySetting(&AppSettings::relayKey, keyHex);
  }
  void onPin(bool ok, const std::string& text) override { model_.pinAnswer(ok, text); }
  void onConnected() override { model_.partnerConnected(); }
  void onDisconnected() override {
    model_.sessionEnded(Light::grey, "No active session", "The last session has ended");
  }
  void onFailed(const std::string& text) override { model_.sessionEnded(Light::red, "Could not connect", text); }
  void onMessage(const std::string& text) override { model_.log("Partner says: " + text); }
  void onRegister(const std::string& text) override {
    if (!model_.reports_ || !model_.reports_->handle(text)) model_.log("Server: " + text);
  }
  // BRAND and BOOK lines are not used here: onBrand and onBook keep their defaults.
  void onRelayTest(bool ok, int64_t milliseconds, const std::string& text) override {
    auto waiting = std::move(model_.pendingTests_);
    model_.pendingTests_.clear();
    for (auto& done : waiting) done(ok, milliseconds, text);
  }

 private:
  AppModel& model_;
};

bool AppModel::online() const { return client_ && client_->serverUp() && myID_.get() != "0"; }

void AppModel::startClient() {
  const AppSettings& s = prefs_.settings().get();
  if (s.relayHost.empty()) {
    needsServer_.set(true);
    serverLight_.set(Light::amber);
    serverText_.set("No server set");
    return;
  }
  // New events for every link: a link dropped but still alive somewhere
  // tells the model nothing more.
  clientEvents_ = std::make_shared<ClientEvents>(*this);
  auto c = PlimoClient::create(loop_, sockets_, clientEvents_, s.relayHost,
                               uint16_t(std::clamp<int64_t>(s.relayPort, 0, 65535)), s.tcpPorts, s.relayKey);
  c->setUnattended(unattended());
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
    log(std::string("Could not start: ") + error.what());
  }
}

void AppModel::storeRelaySetting(std::string AppSettings::*field, const std::string& value) {
  AppSettings fresh = prefs_.settings().get();
  fresh.*field = value;
  prefs_.store(fresh);
}

void AppModel::restartClient() {
  endSessionWindow();
  if (client_) client_->stop();
  client_.reset();
  myID_.set("0");
  serverLight_.set(Light::amber);
  serverText_.set("Connecting to server...");
  startClient();
}

void AppModel::refreshFingerprint() {
  relayFingerprint_.set(client_ && client_->relayKey() ? PlimoCrypto::keyFingerprint(*client_->relayKey())
                                                    : PlimoCrypto::keyFingerprint({}));
}

void AppModel::serverStatusFromID() {
  if (!client_) return;
  myID_.set(client_->myID());
  idPinned_.set(client_->idPinned());
  refreshFingerprint();
  serverLight_.set(Light::green);
  serverText_.set("Online, secure connection");
  startupAutomation();
}

void AppModel::serverStatus(const std::string& text) {
  if (!client_) return;
  refreshFingerprint();
  if (client_->relayBlocked()) {
    serverLight_.set(Light::red);
    serverText_.set(text);
  } else if (!client_->serverUp()) {
    serverLight_.set(Light::amber);
    serverText_.set(text);
  } else if (client_->myID() != "0") {
    serverLight_.set(Light::green);
    serverText_.set("Online, secure connection");
  } else {
    serverLight_.set(Light::green);
    serverText_.set(text);
  }
}

void AppModel::chooseServer(std::string_view address) {
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
  log("Server set to " + host + ":" + std::to_string(port));
  restartClient();
}

void AppModel::saveSettings(const AppSettings& given) {
  AppSettings old = prefs_.settings().get();
  AppSettings fresh = given;
  bool hostChanged = fresh.relayHost != old.relayHost;
  if (hostChanged) fresh.relayKey.clear();
  prefs_.store(fresh);
  if (hostChanged || fresh.tcpPorts != old.tcpPorts || fresh.relayPort != old.relayPort) restartClient();
}

void AppModel::testServer(std::function<void(bool ok, const std::string& text)> done) {
  testRelay([done = std::move(done)](bool ok, int64_t milliseconds, const std::string& text) {
    done(ok, ok ? "Server answered in " + std::to_string(milliseconds) + " ms: " + text : text);
  });
}

void AppModel::testRelay(RelayTestDone done) {
  if (!client_) return;
  pendingTests_.push_back(std::move(done));
  client_->testRelay();
}

void AppModel::terminate() {
  endSessionWindow();
  if (!client_) return;
  client_->stop();
}

}  // namespace plimo
