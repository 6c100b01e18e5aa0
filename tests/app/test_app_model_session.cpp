// The model's partner-session side: the checks before connecting, the recent
// list, and the start-up automation.
#include <gtest/gtest.h>

#include "ModelRig.h"
#include "protocol/crypto/EcdhKey.h"
#include "protocol/crypto/PlimoCrypto.h"

using namespace plimo;
using testkit::LinkFixture;
using Light = AppModel::Light;

namespace {

struct SessionFixture : LinkFixture {
  void registered(const std::string& iniText = "[Relay]\nHost=relay.example\n", UserDefaults defaults = {}) {
    start(iniText, std::move(defaults));
    welcome();
    say("ID 111222333 3600");
    lines();
  }
  // The server's introduction of a partner with a fresh key.
  void introduce(const std::string& id, const std::string& name = "-") {
    EcdhKey partner;
    say("PEER 203.0.113.9 40001 10.0.0.9 40001 " + PlimoCrypto::hex(partner.publicKey()) + " " + id + " " + name + " U");
  }
  std::vector<std::string> connects() {
    std::vector<std::string> out;
    for (auto& line : lines())
      if (line.rfind("CONNECT ", 0) == 0) out.push_back(line);
    return out;
  }
};

}  // namespace

TEST_F(SessionFixture, PartnerIdIsCheckedBeforeAnythingIsSent) {
  start();
  model->setPartnerID("123456789");
  model->connect();
  EXPECT_EQ(model->notice().get(), "Still connecting to the server. Try again in a moment.");

  welcome();
  say("ID 111222333 3600");
  lines();
  for (const char* bad : {"12345678", "12345678a", "1234567890"}) {
    model->setPartnerID(bad);
    model->connect();
    EXPECT_EQ(model->notice().get(), "Enter the 9-digit ID of the other PC.") << bad;
  }
  model->setPartnerID("111 222 333");
  model->connect();
  EXPECT_EQ(model->notice().get(), "That is your own ID.");
  EXPECT_TRUE(connects().empty());

  model->setPartnerID("123- 456 789");
  model->connect();
  EXPECT_EQ(model->notice().get(), "");
  auto sent = connects();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_NE(sent[0].find("123456789"), std::string::npos) << sent[0];
  EXPECT_TRUE(model->sessions().connecting().get());
  EXPECT_EQ(model->sessions().sessionLight().get(), Light::amber);
  EXPECT_EQ(model->sessions().sessionTitle().get(), "Connecting to 123 456 789...");
  EXPECT_EQ(model->sessions().sessionDetail().get(), "Setting up the encrypted direct link");
  EXPECT_EQ(model->recent().get().front().id, "123456789");
}

TEST_F(SessionFixture, ConnectWhileAnAttemptRunsCancelsIt) {
  registered();
  model->setPartnerID("123456789");
  model->connect();
  introduce("123456789");
  ASSERT_EQ(AppModelTestKit{*model}.client()->state(), PlimoClient::State::punching);
  model->connect();
  EXPECT_EQ(AppModelTestKit{*model}.client()->state(), PlimoClient::State::registered);
  EXPECT_FALSE(model->sessions().connecting().get());
  EXPECT_EQ(model->sessions().sessionLight().get(), Light::red);
  EXPECT_EQ(model->sessions().sessionTitle().get(), "Could not connect");
}

TEST_F(SessionFixture, RecentListKeepsNamesMovesToFrontAndHoldsTwoHundred) {
  std::string iniText = "[Relay]\nHost=relay.example\n[Recent]\nCount=200\n";
  for (int i = 0; i < 200; ++i) {
    iniText += "Id" + std::to_string(i) + "=" + std::to_string(500000000 + i) + "\n";
    iniText += "Name" + std::to_string(i) + "=PC " + std::to_string(i) + "\n";
  }
  registered(iniText);
  model->setPartnerID("500000007");
  model->connect();
  introduce("500000007");
  model->connect();  // cancel
  auto list = model->recent().get();
  ASSERT_EQ(list.size(), 200u);
  EXPECT_EQ(list.front(), (RecentPC{"500000007", "PC 7"}));
  EXPECT_EQ(list.back().id, "500000199");

  model->setPartnerID("999888777");
  model->connect();
  list = model->recent().get();
  ASSERT_EQ(list.size(), 200u);
  EXPECT_EQ(list.front(), (RecentPC{"999888777", ""}));
  EXPECT_EQ(list.back().id, "500000198");
  EXPECT_EQ(iniValue("Recent", "Id0"), "999888777");
  EXPECT_EQ(iniValue("Recent", "Count"), "200");
}

TEST_F(SessionFixture, AutoConnectRunsOncePerLaunch) {
  UserDefaults defaults;
  defaults.set("autoConnect", "123456789");
  defaults.set("reportTo", "/tmp/never-written");
  start("[Relay]\nHost=relay.example\n", defaults);
  welcome();
  EXPECT_FALSE(model->autoConnected());
  say("ID 111222333 3600");
  EXPECT_TRUE(model->autoConnected());
  EXPECT_EQ(model->partnerID().get(), "123456789");
  EXPECT_EQ(connects().size(), 1u);

  introduce("123456789");
  model->connect();  // cancel, then register again: no second attempt
  say("ID 111222333 3600");
  EXPECT_TRUE(connects().empty());
}
