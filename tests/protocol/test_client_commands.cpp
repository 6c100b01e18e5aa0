// Server replies and commands: ID, PIN, UNPIN, the routing of every line,
// the dispatch of packets by sender, and bad input.
#include <gtest/gtest.h>

#include <random>

#include "testkit/ClientRig.h"

using namespace plimo;
using namespace plimo::testkit;

TEST(ClientCommands, IdReplies) {
  ClientRig rig;
  rig.bringUp("987654321");
  EXPECT_EQ(rig.idCount, 1);
  EXPECT_FALSE(rig.client->idPinned());
  EXPECT_FALSE(rig.kit().idExpires());

  rig.sendLine("ID 111222333 600");
  EXPECT_EQ(rig.idCount, 2);
  EXPECT_FALSE(rig.client->idPinned());
  ASSERT_TRUE(rig.kit().idExpires());
  EXPECT_DOUBLE_EQ(*rig.kit().idExpires(), rig.loop.now() + 600);

  rig.sendLine("ID 111222333 soon");
  EXPECT_DOUBLE_EQ(*rig.kit().idExpires(), rig.loop.now());
  rig.sendLine("ID 111222333 -40");
  EXPECT_DOUBLE_EQ(*rig.kit().idExpires(), rig.loop.now());

  rig.sendLine("ID 111222333 pinned");
  EXPECT_TRUE(rig.client->idPinned());
  EXPECT_FALSE(rig.kit().idExpires());
  EXPECT_EQ(rig.idCount, 2);  // the same ID fires nothing
  EXPECT_TRUE(rig.logged("My ID is 111 222 333"));

  rig.sendLine("ID");  // too short: ignored
  rig.sendLine("ID  pinned");  // an empty ID is no ID
  EXPECT_EQ(rig.client->myID(), "111222333");
}

TEST(ClientCommands, PinIsAskedAgainUntilConfirmed) {
  ClientRig rig;
  rig.client->setPin("", std::string(64, 'A'));
  rig.client->sendPin();  // not registered yet: nothing to send, nothing lost
  rig.bringUp("123456789");
  auto lines = rig.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "PIN 123456789 " + std::string(64, 'A'));

  rig.sendLine("ERR PIN NOT_READY");
  EXPECT_TRUE(rig.pins.empty());
  EXPECT_EQ(rig.kit().pinSecret(), std::string(64, 'A'));
  rig.sendLine("ID 123456789");
  EXPECT_EQ(rig.lines(), std::vector<std::string>{"PIN 123456789 " + std::string(64, 'A')});

  rig.sendLine("PIN OK 123456789");
  ASSERT_EQ(rig.pins.size(), 1u);
  EXPECT_EQ(rig.pins[0], std::make_pair(true, std::string("123456789")));
  EXPECT_TRUE(rig.client->idPinned());
  EXPECT_TRUE(rig.logged("ID 123 456 789 is pinned; it stays valid until you unpin it"));
  rig.sendLine("ID 123456789 pinned");
  EXPECT_TRUE(rig.lines().empty());

  rig.client->unpinID();
  EXPECT_EQ(rig.lines(), std::vector<std::string>{"UNPIN"});
  EXPECT_FALSE(rig.client->idPinned());
  EXPECT_TRUE(rig.kit().pinSecret().empty());
  rig.client->unpinID();  // nothing kept: nothing sent
  EXPECT_TRUE(rig.lines().empty());
}

TEST(ClientCommands, PinRefusals) {
  ClientRig rig;
  rig.bringUp();
  rig.client->setPin("555666777", "S");
  rig.client->sendPin();
  EXPECT_EQ(rig.lines(), std::vector<std::string>{"PIN 555666777 S"});
  rig.sendLine("ERR PIN TAKEN");
  ASSERT_EQ(rig.pins.size(), 1u);
  EXPECT_FALSE(rig.pins[0].first);
  EXPECT_EQ(rig.pins[0].second, "That ID is kept by another PC; this PC keeps its own ID instead.");
  EXPECT_TRUE(rig.logged("That ID is kept by another PC; this PC keeps its own ID instead. (ERR PIN TAKEN)"));
  EXPECT_TRUE(rig.kit().pinID().empty());
  EXPECT_TRUE(rig.kit().pinSecret().empty());

  rig.client->setPin("", "S");
  rig.sendLine("ERR PIN BAD_SECRET");
  EXPECT_EQ(rig.pins.back().second, "The server did not accept the request to keep this ID.");
}

TEST(ClientCommands, LinesAreRoutedInOrder) {
  ClientRig rig;
  rig.bringUp();
  rig.logs.clear();
  for (const char* line : {"REPORTASK 42", "REPORT OK 7", "FEEDBACK x", "ERR REPORT_TOO_BIG 7", "ERR FEEDBACKOFF"}) {
    rig.sendLine(line);
  }
  EXPECT_EQ(rig.registers, (std::vector<std::string>{"REPORTASK 42", "REPORT OK 7", "FEEDBACK x",
                                                     "ERR REPORT_TOO_BIG 7", "ERR FEEDBACKOFF"}));
  for (const char* line : {"BRAND Acme", "LOGO abc"}) rig.sendLine(line);
  EXPECT_EQ(rig.brands, (std::vector<std::string>{"BRAND Acme", "LOGO abc"}));
  for (const char* line : {"BOOK 1", "BOOKPART 2", "BOOKPUT 3", "BOOKPAIR 4", "ERR BOOKING_FULL"}) {
    rig.sendLine(line);
  }
  EXPECT_EQ(rig.books.size(), 5u);
  // None of those is an error line.
  for (auto& l : rig.logs) EXPECT_FALSE(l.starts_with("Server error")) << l;

  rig.sendLine("ERR UNKNOWN_ID");
  rig.sendLine("ERR RATE_LIMIT");
  rig.sendLine("ERR SELF");
  EXPECT_EQ(rig.failures, (std::vector<std::string>{"That ID is not online.",
                                                    "Too many wrong IDs. Wait a minute and try again.",
                                                    "That is your own ID."}));
  EXPECT_TRUE(rig.logged("That ID is not online."));
  rig.sendLine("ERR UNKNOWN_ID 123");
  rig.sendLine("ERR");
  rig.sendLine("ERR WHATEVER");
  EXPECT_EQ(rig.failures.size(), 3u);
  EXPECT_TRUE(rig.logged("Server error: ERR UNKNOWN_ID 123"));
  EXPECT_TRUE(rig.logged("Server error: ERR"));
  EXPECT_TRUE(rig.logged("Server error: ERR WHATEVER"));

  // Unknown lines and lines too short for their form change nothing.
  size_t logs = rig.logs.size();
  for (const char* line : {"HELLO", "PONG 1 2", "PORTS x", "PIN OK", "WHAT is this", ""}) rig.sendLine(line);
  EXPECT_EQ(rig.logs.size(), logs);
  // White space and line ends around a line do not matter.
  rig.sendLine("  ID 444555666\r\n");
  EXPECT_EQ(rig.client->myID(), "444555666");
}

TEST(ClientDispatch, OnlyTheServersAddressAndPortIsTheServer) {
  ClientRig rig("");
  rig.start();
  Bytes welcome = rig.relay.welcome(rig.handshakes().back());
  rig.deliver(welcome, Address{ClientRig::kServerIP, 47801});
  rig.deliver(welcome, Address{"198.51.100.7", ClientRig::kServerPort});
  EXPECT_FALSE(rig.client->serverUp());
  rig.deliver(welcome);
  EXPECT_TRUE(rig.client->serverUp());
  rig.lines();

  rig.sendLine("ID 123456789");
  // A sealed line from another port of the server's IP is not the server's.
  Bytes line = rig.relay.seal("ID 999999999");
  rig.deliver(line, Address{ClientRig::kServerIP, 47801});
  EXPECT_EQ(rig.client->myID(), "123456789");
  // A lone 0x14 from the server is a server packet (and means nothing).
  rig.deliver(Bytes{0x14});
  EXPECT_TRUE(rig.client->serverUp());
}

TEST(ClientDispatch, BadInputNeverCrashesNorChangesState) {
  ClientRig rig("");
  rig.kit().pinServerKey(rig.relay.longTerm.publicKey());
  rig.start();
  std::mt19937 random(7);
  // Welcome-shaped junk while a handshake waits: no session, no freeze.
  for (int i = 0; i < 300; ++i) {
    Bytes data(194);
    for (auto& b : data) b = uint8_t(random());
    data[0] = 0x11;
    data[1] = 0x01;
    rig.deliver(data);
  }
  EXPECT_FALSE(rig.client->serverUp());
  EXPECT_FALSE(rig.client->relayBlocked());
  rig.welcome();
  rig.sendLine("ID 123456789");
  auto session = rig.kit().serverChannel();
  ASSERT_TRUE(session);
  std::vector<Address> senders = {ClientRig::serverAddress(), {ClientRig::kServerIP, 1}, {"10.0.0.9", 5000}};
  for (int i = 0; i < 3000; ++i) {
    size_t length = random() % 300;
    if (i % 10 == 0) length = 194;  // welcome-sized
    Bytes data(length);
    for (auto& b : data) b = uint8_t(random());
    // Every packet type, but never a reset (that one legitimately drops the session).
    if (!data.empty()) data[0] = uint8_t(0x0E + random() % 8);
    if (!data.empty() && data[0] == 0x13) data[0] = 0x12;
    if (i % 10 == 0) data[1] = 0x01;
    rig.deliver(data, senders[i % senders.size()]);
  }
  rig.deliver(Bytes{});
  EXPECT_EQ(rig.kit().serverChannel(), session);
  EXPECT_FALSE(rig.client->relayBlocked());
  EXPECT_EQ(rig.client->myID(), "123456789");
  EXPECT_EQ(rig.client->state(), PlimoClient::State::registered);
  EXPECT_EQ(rig.idCount, 1);
  // The session still works.
  rig.sendLine("ID 222333444");
  EXPECT_EQ(rig.client->myID(), "222333444");
}

TEST(ClientDispatch, ControlAndInvalidUtf8LinesAreHandledAsText) {
  ClientRig rig;
  rig.bringUp();
  rig.sendLine(std::string("ERR \xFF\xFE\xC0 x"));
  ASSERT_FALSE(rig.logs.empty());
  EXPECT_EQ(rig.logs.back(), "Server error: ERR \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD x");
}
