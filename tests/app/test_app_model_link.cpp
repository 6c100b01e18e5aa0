// The model's wiring of the server link: status texts and lights, pinning of
// the server key and the ID into Plimo.ini, server choice and restarts.
#include <gtest/gtest.h>

#include "ModelRig.h"
#include "protocol/crypto/PlimoCrypto.h"

using namespace plimo;
using testkit::LinkFixture;
using Light = AppModel::Light;


TEST_F(LinkFixture, NoServerSetAsksForOne) {
  start("");
  EXPECT_TRUE(model->link().needsServer().get());
  EXPECT_EQ(model->link().serverLight().get(), Light::amber);
  EXPECT_EQ(model->link().serverText().get(), "No server set");
  EXPECT_EQ(AppModelTestKit{*model}.client(), nullptr);
  EXPECT_TRUE(sockets.udp.empty());

  model->chooseServer("  relay.example  ");
  EXPECT_FALSE(model->link().needsServer().get());
  EXPECT_EQ(model->settings().get().relayHost, "relay.example");
  EXPECT_EQ(model->settings().get().relayPort, 47800);
  EXPECT_EQ(iniValue("Relay", "Host"), "relay.example");
  ASSERT_NE(AppModelTestKit{*model}.client(), nullptr);
  EXPECT_EQ(model->link().serverText().get(), "Connecting to server...");
}

TEST_F(LinkFixture, RegistrationPinsKeyAndTurnsGreen) {
  start();
  EXPECT_EQ(model->link().serverLight().get(), Light::amber);
  welcome();
  EXPECT_EQ(iniValue("Relay", "Key"), PlimoCrypto::hex(server.longTerm.publicKey()));
  EXPECT_EQ(model->settings().get().relayKey, PlimoCrypto::hex(server.longTerm.publicKey()));
  EXPECT_EQ(model->link().serverLight().get(), Light::green);
  EXPECT_EQ(model->link().serverText().get(), "Secure connection to server");
  EXPECT_FALSE(model->online());

  say("ID 123456789 3600");
  EXPECT_EQ(model->link().myID().get(), "123456789");
  EXPECT_EQ(model->link().serverText().get(), "Online, secure connection");
  EXPECT_EQ(model->link().relayFingerprint().get(), PlimoCrypto::keyFingerprint(server.longTerm.publicKey()));
  EXPECT_TRUE(model->online());
}

TEST_F(LinkFixture, ServerWithAnotherKeyTurnsRed) {
  testkit::FakeRelayServer impostor;
  start("[Relay]\nHost=relay.example\nKey=" + PlimoCrypto::hex(impostor.longTerm.publicKey()) + "\n");
  welcome();
  EXPECT_EQ(model->link().serverLight().get(), Light::red);
  EXPECT_EQ(model->link().serverText().get(), "Server key mismatch");
  EXPECT_EQ(iniValue("Relay", "Key"), PlimoCrypto::hex(impostor.longTerm.publicKey()));
}

TEST_F(LinkFixture, ServerChoiceParsesPortAndForgetsOldKey) {
  start("[Relay]\nHost=relay.example\nKey=ABCD\n");
  model->chooseServer("other.example:5000");
  EXPECT_EQ(model->settings().get().relayHost, "other.example");
  EXPECT_EQ(model->settings().get().relayPort, 5000);
  EXPECT_EQ(model->settings().get().relayKey, "");
  EXPECT_EQ(iniValue("Relay", "Key"), "");
  EXPECT_EQ(model->serverAddress(), "other.example:5000");

  model->chooseServer("host.example:");
  EXPECT_EQ(model->settings().get().relayHost, "host.example:");
  EXPECT_EQ(model->settings().get().relayPort, 47800);
  model->chooseServer("host.example:http");
  EXPECT_EQ(model->settings().get().relayHost, "host.example:http");
  EXPECT_EQ(model->settings().get().relayPort, 47800);

  auto before = AppModelTestKit{*model}.client();
  model->chooseServer("   ");
  EXPECT_EQ(AppModelTestKit{*model}.client(), before);
}

TEST_F(LinkFixture, SavingSettingsRestartsOnlyForServerChanges) {
  start();
  auto first = AppModelTestKit{*model}.client();
  AppSettings s = model->settings().get();
  s.profileName = "New Name";
  model->saveSettings(s);
  EXPECT_EQ(AppModelTestKit{*model}.client(), first);
  EXPECT_EQ(iniValue("Profile", "Name"), "New Name");

  s.relayPort = 47801;
  model->saveSettings(s);
  EXPECT_NE(AppModelTestKit{*model}.client(), first);
  EXPECT_EQ(model->link().myID().get(), "0");
}

TEST_F(LinkFixture, KeepIdSendsSecretAndStoresTheAnswer) {
  start();
  welcome();
  say("ID 123456789 3600");
  lines();
  model->setKeepID(true);
  std::string secret = model->settings().get().pinSecret;
  EXPECT_EQ(secret.size(), 64u);
  EXPECT_EQ(iniValue("ID", "Secret"), secret);
  auto sentLines = lines();
  ASSERT_FALSE(sentLines.empty());
  EXPECT_NE(sentLines.back().find(secret), std::string::npos) << sentLines.back();

  say("PIN OK 123456789");
  EXPECT_EQ(iniValue("ID", "Pinned"), "123456789");
  EXPECT_EQ(model->settings().get().pinnedID, "123456789");

  model->setKeepID(false);
  EXPECT_EQ(iniValue("ID", "Secret"), "");
  EXPECT_EQ(iniValue("ID", "Pinned"), "");
  EXPECT_FALSE(model->link().idPinned().get());
}

TEST_F(LinkFixture, RefusedPinClearsTheSecretAndTellsTheUser) {
  start("[Relay]\nHost=relay.example\n[ID]\nSecret=" + std::string(64, 'A') + "\nPinned=123456789\n");
  welcome();
  say("ID 123456789 3600");
  say("ERR PIN TAKEN");
  EXPECT_EQ(model->settings().get().pinSecret, "");
  EXPECT_EQ(iniValue("ID", "Secret"), "");
  EXPECT_FALSE(model->notice().get().empty());
}

TEST_F(LinkFixture, SocketThatCannotOpenShowsCouldNotStart) {
  sockets.udpFailure = std::errc::address_in_use;
  start();
  EXPECT_EQ(model->link().serverLight().get(), Light::red);
  EXPECT_EQ(model->link().serverText().get(), "Could not start");
}

TEST_F(LinkFixture, RelayTestAnswersEveryWaitingCaller) {
  start();
  welcome();
  say("ID 123456789 3600");
  lines();
  std::vector<std::pair<bool, std::string>> answers;
  model->testServer([&](bool ok, const std::string& t) { answers.emplace_back(ok, t); });
  model->testServer([&](bool ok, const std::string& t) { answers.emplace_back(ok, t); });
  loop.advance(6);
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_FALSE(answers[0].first);
  EXPECT_EQ(answers[0], answers[1]);
}

TEST_F(LinkFixture, TerminateSaysByeToTheServer) {
  start();
  welcome();
  say("ID 123456789 3600");
  lines();
  model->terminate();
  auto last = lines();
  ASSERT_FALSE(last.empty());
  EXPECT_EQ(last.back(), "BYE");
}

// A PC that keeps its ID, by the switch or for unattended access, shows no
// ID until the server has answered its PIN: the first one it is given is a
// temporary one that scripts and people would take for its own.
TEST_F(LinkFixture, AKeptIDIsShownOnlyOnceThePinIsAnswered) {
  const std::string secret(64, 'A');
  struct Case {
    const char* name;
    std::string ini;
    std::vector<std::string> replies;  // after "ID 123456789 600"
    std::vector<std::string> shown;
  };
  const Case cases[] = {
      {"kept ID named", "[ID]\nSecret=" + secret + "\nPinned=555666777\n",
       {"PIN OK 555666777", "ID 555666777 pinned"}, {"555666777"}},
      // A restarted server first gives a temporary ID again.
      {"server restarted", "[ID]\nSecret=" + secret + "\nPinned=555666777\n",
       {"PIN OK 555666777", "ID 555666777 pinned", "ID 777888999 600", "PIN OK 555666777", "ID 555666777 pinned"},
       {"555666777"}},
      {"the given ID kept", "[ID]\nSecret=" + secret + "\n", {"PIN OK 123456789", "ID 123456789 pinned"},
       {"123456789"}},
      {"pin refused", "[ID]\nSecret=" + secret + "\nPinned=555666777\n", {"ERR PIN TAKEN"}, {"123456789"}},
      {"unattended in the file", "[Session]\nUnattended=1\n", {"PIN OK 123456789"}, {"123456789"}},
      {"not kept", "", {"ID 777888999 600"}, {"123456789", "777888999"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    model.reset();
    read = 0;
    start("[Relay]\nHost=relay.example\n" + c.ini);
    std::vector<std::string> shown;
    auto watch = model->link().myID().observe([&](const std::string& id) { shown.push_back(id); });
    const bool kept = c.ini.find("Secret") != std::string::npos || c.ini.find("Unattended=1") != std::string::npos;
    EXPECT_EQ(model->keepID(), kept);
    EXPECT_EQ(model->settings().get().pinSecret.size(), kept ? 64u : 0u);
    if (kept) {
      EXPECT_EQ(iniValue("ID", "Secret"), model->settings().get().pinSecret);
    }
    welcome();
    say("ID 123456789 600");
    auto sent = lines();
    if (kept) {
      EXPECT_TRUE(shown.empty());
      EXPECT_FALSE(model->online());
      ASSERT_FALSE(sent.empty());
      EXPECT_EQ(sent.back().rfind("PIN ", 0), 0u) << sent.back();
    }
    for (const auto& reply : c.replies) say(reply);
    EXPECT_EQ(shown, c.shown);
    EXPECT_TRUE(model->online());
  }
}

TEST_F(LinkFixture, UnattendedAccessGoesWithAKeptID) {
  start();
  welcome();
  say("ID 123456789 600");
  lines();
  model->setUnattended(true);
  EXPECT_TRUE(model->keepID());
  EXPECT_EQ(iniValue("ID", "Secret"), model->settings().get().pinSecret);
  auto sent = lines();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back(), "PIN 123456789 " + model->settings().get().pinSecret);
  say("PIN OK 123456789");

  model->setKeepID(false);
  EXPECT_FALSE(model->unattended());
  EXPECT_EQ(iniValue("Session", "Unattended"), "0");
  EXPECT_EQ(iniValue("ID", "Secret"), "");
  EXPECT_EQ(lines().back(), "UNPIN");
  EXPECT_EQ(model->link().myID().get(), "123456789");
}
