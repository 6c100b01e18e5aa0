#pragma once
// Everything a server link tells, recorded: its events and its session data.
// The test rigs are recorders and hand their client weak() as its events and
// its session; a test reacts from inside an event through the after* hooks
// (dropping the client from its own event, say), each run once the event is
// recorded.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/Bytes.h"
#include "core/Weakly.h"
#include "protocol/link/LinkEvents.h"
#include "protocol/link/SessionDataReceiver.h"

namespace plimo::testkit {

class LinkRecorder : public LinkEvents, public SessionDataReceiver {
 public:
  LinkRecorder() = default;
  LinkRecorder(const LinkRecorder&) = delete;
  LinkRecorder& operator=(const LinkRecorder&) = delete;

  std::weak_ptr<LinkRecorder> weak() const { return guard_.weak(); }

  void onID() override {
    ++idCount;
    after(afterID);
  }
  void onRelayStatus(const std::string& text) override { statuses.push_back(text); }
  void onRelayKeyPinned(const std::string& keyHex) override { pinnedKeys.push_back(keyHex); }
  void onRelayTest(bool ok, int64_t milliseconds, const std::string& text) override {
    tests.emplace_back(ok, milliseconds, text);
  }
  void onPin(bool ok, const std::string& text) override { pins.emplace_back(ok, text); }
  void onTcpPortChanged(const std::string& portsText) override { portChanges.push_back(portsText); }
  void onRegister(const std::string& line) override { registers.push_back(line); }
  void onBook(const std::string& line) override { books.push_back(line); }
  void onBrand(const std::string& line) override { brands.push_back(line); }
  void onConnected() override {
    ++connects;
    after(afterConnected);
  }
  void onDisconnected() override {
    ++disconnects;
    after(afterDisconnected);
  }
  void onFailed(const std::string& text) override {
    failures.push_back(text);
    after(afterFailed);
  }
  void onMessage(const std::string& text) override { messages.push_back(text); }
  void onLog(const std::string& line) override { logs.push_back(line); }
  void receive(ByteView packet) override {
    data.emplace_back(packet.begin(), packet.end());
    after(afterData);
  }

  std::vector<std::string> logs, statuses, pinnedKeys, registers, books, brands, failures, portChanges, messages;
  std::vector<std::tuple<bool, int64_t, std::string>> tests;
  std::vector<std::pair<bool, std::string>> pins;
  std::vector<Bytes> data;
  int idCount = 0;
  int connects = 0;
  int disconnects = 0;

  std::function<void()> afterID, afterConnected, afterDisconnected, afterFailed, afterData;

 private:
  static void after(const std::function<void()>& hook) {
    if (hook) hook();
  }

  LifeGuard<LinkRecorder> guard_{this};
};

}  // namespace plimo::testkit
