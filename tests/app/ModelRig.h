#pragma once
// An AppModel on a ManualLoop with in-memory sockets, and the test as its
// server.

#include <gtest/gtest.h>

#include "app/AppModel.h"
#include "core/ManualLoop.h"
#include "platform/fake/FakeSystem.h"
#include "protocol/link/PlimoClient.h"
#include "support/IniFile.h"
#include "testkit/AppModelTestKit.h"
#include "testkit/FakeRelayServer.h"
#include "testkit/FakeSockets.h"
#include "testkit/TempDir.h"

namespace plimo::testkit {


inline constexpr const char* kServerIP = "198.51.100.7";

struct LinkFixture : ::testing::Test {
  TempDir dir;
  ManualLoop loop;
  FakeSystem system;
  IniFile ini{dir / "Plimo.ini"};
  FakeSocketFactory sockets{loop};
  FakeRelayServer server;
  std::unique_ptr<AppModel> model;
  size_t read = 0;

  void start(const std::string& iniText = "[Relay]\nHost=relay.example\n", UserDefaults defaults = {}) {
    sockets.hosts["relay.example"] = kServerIP;
    writeFile(dir / "Plimo.ini", iniText);
    ini.load();
    model = std::make_unique<AppModel>(loop, system, sockets, ini, std::move(defaults));
    loop.runPending();
  }
  Address serverAddress() const { return {kServerIP, 47800}; }
  std::vector<Bytes> sent() {
    std::vector<Bytes> out;
    for (auto& d : sockets.udp.back()->sent)
      if (d.to == serverAddress()) out.push_back(d.data);
    return out;
  }
  void deliver(Bytes data) {
    UdpRecord::deliver(sockets.udp.back(), std::move(data), serverAddress());
    loop.runPending();
  }
  void welcome() {
    auto all = sent();
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
      if (FakeRelayServer::isHandshake(*it)) {
        deliver(server.welcome(*it));
        read = all.size();
        return;
      }
    }
    FAIL() << "no handshake";
  }
  std::vector<std::string> lines() {
    std::vector<std::string> out;
    auto all = sent();
    for (; read < all.size(); ++read)
      if (auto line = server.open(all[read])) out.push_back(*line);
    return out;
  }
  void say(const std::string& line) { deliver(server.seal(line)); }
  std::string iniValue(const char* section, const char* key) {
    IniFile reread(dir / "Plimo.ini");
    reread.load();
    return reread.string(section, key, "<none>");
  }
};


}  // namespace plimo::testkit
