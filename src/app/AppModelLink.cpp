// The model's half that owns the server link: building and rebuilding it,
// turning its events into the main window's status, and the server settings.

#include <algorithm>
#include <stdexcept>

#include "app/AppModel.h"
#include "app/SessionReports.h"
#include "protocol/PlimoClient.h"
#include "protocol/PlimoCrypto.h"
#include "support/IniFile.h"

namespace plimo {

bool AppModel::online() const { return client && client->serverUp() && myID.get() != "0"; }

void AppModel::startClient() {
  const AppSettings& s = settings.get();
  if (s.relayHost.empty()) {
    needsServer.set(true);
    serverLight.set(Light::amber);
    serverText.set("No server set");
    return;
  }
  auto c = PlimoClient::create(loop_, sockets_, s.relayHost, uint16_t(std::clamp<int64_t>(s.relayPort, 0, 65535)),
                               s.tcpPorts, s.relayKey);
  c->onLog = guard_.weakly<const std::string&>([](AppModel& m, const std::string& text) { m.log(text); });
  c->onTcpPortChanged = guard_.weakly<const std::string&>(
      [](AppModel& m, const std::string& text) { m.storeRelaySetting(&AppSettings::tcpPorts, text); });
  c->onID = guard_.weakly([](AppModel& m) { m.serverStatusFromID(); });
  c->onRelayStatus =
      guard_.weakly<const std::string&>([](AppModel& m, const std::string& text) { m.serverStatus(text); });
  c->onRelayKeyPinned = guard_.weakly<const std::string&>(
      [](AppModel& m, const std::string& keyHex) { m.storeRelaySetting(&AppSettings::relayKey, keyHex); });
  c->onPin = guard_.weakly<bool, const std::string&>(
      [](AppModel& m, bool ok, const std::string& text) { m.pinAnswer(ok, text); });
  c->onConnected = guard_.weakly([](AppModel& m) { m.partnerConnected(); });
  c->onDisconnected = guard_.weakly(
      [](AppModel& m) { m.sessionEnded(Light::grey, "No active session", "The last session has ended"); });
  c->onFailed = guard_.weakly<const std::string&>(
      [](AppModel& m, const std::string& text) { m.sessionEnded(Light::red, "Could not connect", text); });
  c->onMessage =
      guard_.weakly<const std::string&>([](AppModel& m, const std::string& text) { m.log("Partner says: " + text); });
  c->onRegister = guard_.weakly<const std::string&>([](AppModel& m, const std::string& text) {
    if (!m.reports || !m.reports->handle(text)) m.log("Server: " + text);
  });
  c->onBrand = [](const std::string&) {};
  c->onBook = [](const std::string&) {};
  c->onRelayTest = guard_.weakly<bool, int64_t, const std::string&>(
      [](AppModel& m, bool ok, int64_t milliseconds, const std::string& text) {
        auto waiting = std::move(m.pendingTests_);
        m.pendingTests_.clear();
        for (auto& done : waiting) done(ok, milliseconds, text);
      });
  c->setUnattended(unattended());
  if (!s.pinSecret.empty()) {
    c->setPin(s.pinnedID, s.pinSecret);
    c->sendPin();
  }
  client = c;
  try {
    c->start();
  } catch (const std::exception& error) {
    serverLight.set(Light::red);
    serverText.set("Could not start");
    log(std::string("Could not start: ") + error.what());
  }
}

void AppModel::storeRelaySetting(std::string AppSettings::*field, const std::string& value) {
  AppSettings fresh = settings.get();
  fresh.*field = value;
  store(fresh);
}

void AppModel::restartClient() {
  endSessionWindow();
  if (client) client->stop();
  client.reset();
  myID.set("0");
  serverLight.set(Light::amber);
  serverText.set("Connecting to server...");
  startClient();
}

void AppModel::refreshFingerprint() {
  relayFingerprint.set(client && client->relayKey() ? PlimoCrypto::keyFingerprint(*client->relayKey())
                                                    : PlimoCrypto::keyFingerprint({}));
}

void AppModel::serverStatusFromID() {
  if (!client) return;
  myID.set(client->myID());
  idPinned.set(client->idPinned());
  refreshFingerprint();
  serverLight.set(Light::green);
  serverText.set("Online, secure connection");
  startupAutomation();
}

void AppModel::serverStatus(const std::string& text) {
  if (!client) return;
  refreshFingerprint();
  if (client->relayBlocked()) {
    serverLight.set(Light::red);
    serverText.set(text);
  } else if (!client->serverUp()) {
    serverLight.set(Light::amber);
    serverText.set(text);
  } else if (client->myID() != "0") {
    serverLight.set(Light::green);
    serverText.set("Online, secure connection");
  } else {
    serverLight.set(Light::green);
    serverText.set(text);
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
  AppSettings fresh = settings.get();
  fresh.relayHost = host;
  fresh.relayPort = port;
  if (!sameName(host, AppSettings::vendorRelayHost)) fresh.relayKey.clear();
  store(fresh);
  needsServer.set(false);
  log("Server set to " + host + ":" + std::to_string(port));
  restartClient();
}

void AppModel::saveSettings(const AppSettings& given) {
  AppSettings old = settings.get();
  AppSettings fresh = given;
  bool hostChanged = fresh.relayHost != old.relayHost;
  if (hostChanged) fresh.relayKey.clear();
  store(fresh);
  if (hostChanged || fresh.tcpPorts != old.tcpPorts || fresh.relayPort != old.relayPort) restartClient();
}

void AppModel::testServer(std::function<void(bool ok, const std::string& text)> done) {
  testRelay([done = std::move(done)](bool ok, int64_t milliseconds, const std::string& text) {
    done(ok, ok ? "Server answered in " + std::to_string(milliseconds) + " ms: " + text : text);
  });
}

void AppModel::testRelay(RelayTestDone done) {
  if (!client) return;
  pendingTests_.push_back(std::move(done));
  client->testRelay();
}

void AppModel::terminate() {
  endSessionWindow();
  if (!client) return;
  client->stop();
}

}  // namespace plimo
