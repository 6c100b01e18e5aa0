// Attempts to take an ID that belongs to another PC: IDs are public (a
// helper reads them out on the phone), so naming one proves nothing.

#include <gtest/gtest.h>

#include "server/ServerRig.h"

using namespace plimo;
using namespace plimo::testkit;

namespace {

constexpr uint32_t kOwnerIP = 0x7F000001;
constexpr uint32_t kAttackerIP = 0x0A000009;
const std::string kSecret(64, 'C');

std::vector<std::string> one(const std::string& line) { return {line}; }

}  // namespace

TEST(IdTheft, PinCannotClaimAnOfflineIDOfAnotherPC) {
  ServerRig rig;
  RigClient owner(rig, RigClient::udp(40001, kOwnerIP));
  std::string id = owner.registerAs();
  owner.say("BYE");

  RigClient attacker(rig, RigClient::udp(40002, kAttackerIP));
  std::string own = attacker.registerAs();
  // Neither the owner's lapsed ID nor one never handed out can be kept.
  EXPECT_EQ(attacker.say("PIN " + id + " " + kSecret), one("ERR PIN TAKEN"));
  EXPECT_EQ(attacker.say("PIN 987654321 " + kSecret), one("ERR PIN TAKEN"));
  EXPECT_FALSE(*rig.store->pinHash(id));
  EXPECT_FALSE(*rig.store->pinHash("987654321"));
  // Its own ID it may keep.
  EXPECT_EQ(attacker.say("PIN " + own + " " + kSecret), (std::vector<std::string>{"PIN OK " + own, "ID " + own + " pinned"}));

  // The owner comes back and finds its ID.
  RigClient back(rig, RigClient::udp(40003, kOwnerIP));
  EXPECT_EQ(back.registerAs(id), id);
}

TEST(IdTheft, PinGuessingIsRateLimitedPerSessionAndPerAddress) {
  ServerRig rig;
  RigClient owner(rig, RigClient::udp(40001, kOwnerIP));
  std::string id = owner.registerAs();
  owner.say("PIN " + id + " " + kSecret);

  // One session guessing: a few refusals, then it must wait.
  RigClient guesser(rig, RigClient::udp(40002, kAttackerIP));
  guesser.registerAs();
  std::vector<std::string> answers;
  for (int i = 0; i < 50; ++i) {
    for (auto& line : guesser.say("PIN " + id + " guess" + std::to_string(i))) answers.push_back(line);
  }
  EXPECT_LE(std::count(answers.begin(), answers.end(), "ERR PIN TAKEN"), 10);
  EXPECT_EQ(answers.back(), "ERR PIN NOT_READY");  // the client asks again later

  // New sessions from the same address do not start the count again.
  int taken = 0;
  for (int s = 0; s < 40; ++s) {
    RigClient c(rig, RigClient::udp(uint16_t(41000 + s), kAttackerIP));
    c.registerAs();
    for (int i = 0; i < 5; ++i) taken += c.say("PIN " + id + " guess") == one("ERR PIN TAKEN");
  }
  EXPECT_LE(taken, 70);
  // Another address is not held back, and the owner keeps its ID.
  RigClient other(rig, RigClient::udp(40009, 0x0A000077));
  std::string otherID = other.registerAs();
  EXPECT_EQ(other.say("PIN " + otherID + " " + std::string(64, 'D'))[0], "PIN OK " + otherID);
  EXPECT_EQ(rig.server.ids().holder(id), rig.server.sessions().find(owner.endpoint)->serial);
}

TEST(IdTheft, HelloNamingAnIDLeasedFromAnotherAddressGetsAFreshOne) {
  ServerRig rig;
  RigClient owner(rig, RigClient::udp(40001, kOwnerIP));
  std::string id = owner.registerAs();
  owner.say("BYE");

  RigClient attacker(rig, RigClient::udp(40002, kAttackerIP));
  std::string got = attacker.registerAs(id);
  EXPECT_NE(got, id);
  EXPECT_TRUE(IdRegistry::isValid(got));
  // An ID the server never handed out is no claim either.
  RigClient guesser(rig, RigClient::udp(40003, kAttackerIP));
  EXPECT_NE(guesser.registerAs("987654321"), "987654321");

  // The owner, back from its address after a network change, gets it back.
  RigClient back(rig, RigClient::udp(40004, kOwnerIP));
  EXPECT_EQ(back.registerAs(id), id);
}

TEST(IdTheft, NewKeysAtAPinnedEndpointNeedTheSecretAgain) {
  ServerRig rig;
  RigClient owner(rig, RigClient::udp(40001, kOwnerIP));
  std::string id = owner.registerAs();
  ASSERT_EQ(owner.say("PIN " + id + " " + kSecret)[0], "PIN OK " + id);

  // Another program at the same address and port (a NAT that handed the
  // mapping on) makes new keys and names the pinned ID.
  RigClient impostor(rig, owner.endpoint);
  impostor.seen = rig.sink.sent.size();
  std::string got = impostor.registerAs(id);
  EXPECT_NE(got, id);
  EXPECT_EQ(rig.server.ids().holder(id), 0u);
  EXPECT_EQ(impostor.say("PIN " + id + " guess"), one("ERR PIN TAKEN"));

  // The owner with its secret: HELLO alone gives another ID, PIN brings its own back.
  RigClient again(rig, owner.endpoint);
  again.seen = rig.sink.sent.size();
  EXPECT_NE(again.registerAs(id), id);
  EXPECT_EQ(again.say("PIN " + id + " " + kSecret), (std::vector<std::string>{"PIN OK " + id, "ID " + id + " pinned"}));
}
