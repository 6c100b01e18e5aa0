// The NAT and TCP probes on virtual time and in-memory sockets: the
// classification table, the retry schedule, untrusted answers, and the TCP
// probe's outcomes.

#include <gtest/gtest.h>

#include "core/ManualLoop.h"
#include "protocol/wire/Stun.h"
#include "support/NetProbes.h"
#include "testkit/FakeSockets.h"

using namespace plimo;
using Nat = NetProbes::Nat;
using Tcp = NetProbes::TcpResult;

namespace {

TEST(NatClassify, FollowsTheTwoAnswers) {
  struct Case {
    std::optional<std::string> a, b;
    Nat expected;
  };
  const Case cases[] = {
      {"1.2.3.4:5000", "1.2.3.4:5000", {Nat::Kind::easy, "1.2.3.4:5000", "", ""}},
      {"1.2.3.4:5000", "5.6.7.8:5000", {Nat::Kind::twoAddresses, "1.2.3.4:5000", "5.6.7.8:5000", ""}},
      {"1.2.3.4:5000", "1.2.3.4:5001", {Nat::Kind::symmetric, "1.2.3.4:5000", "1.2.3.4:5001", ""}},
      {"1.2.3.4:5000", std::nullopt, {Nat::Kind::unknown, "", "", "only one server answered"}},
      {std::nullopt, "1.2.3.4:5000", {Nat::Kind::unknown, "", "", "only one server answered"}},
      {std::nullopt, std::nullopt, {Nat::Kind::unknown, "", "", "UDP to the internet is blocked here, or STUN is"}},
  };
  for (const auto& c : cases) EXPECT_EQ(NetProbes::classify(c.a, c.b), c.expected) << c.a.value_or("-");
}

TEST(StunServerList, TakesTheFirstTwoGoodEntriesElseTheDefaults) {
  using V = std::vector<std::string>;
  EXPECT_EQ(NetProbes::stunServers(""), NetProbes::kDefaultStunServers);
  EXPECT_EQ(NetProbes::stunServers("stun.example.com:3478"), NetProbes::kDefaultStunServers);
  EXPECT_EQ(NetProbes::stunServers(" a.example:3478 , b.example:47800 ,c.example:1"),
            (V{"a.example:3478", "b.example:47800"}));
  EXPECT_EQ(NetProbes::stunServers("nohost,:3478,a:0,a:70000,a:b,a:1:2,x.example:9,y.example:10"),
            (V{"x.example:9", "y.example:10"}));
}

// Two STUN servers on fake sockets that answer as the test says.
struct NatRig {
  ManualLoop loop;
  testkit::FakeSocketFactory sockets{loop};
  std::optional<std::pair<Nat, std::vector<std::string>>> result;
  std::shared_ptr<NatProbe> probe;
  // What a server answers a request with: the mapped address it sees, or
  // nothing (the request is lost).
  std::function<std::optional<Bytes>(const testkit::Datagram&)> answer;

  NatRig() {
    sockets.hosts = {{"one.example", "192.0.2.1"}, {"two.example", "192.0.2.2"}};
  }
  void start(std::vector<std::string> servers = {"one.example:3478", "two.example:19302"}) {
    probe = NatProbe::start(loop, sockets, std::move(servers), [this](Nat nat, std::vector<std::string> lines) {
      result.emplace(std::move(nat), std::move(lines));
    });
    if (sockets.udp.empty()) return;
    std::weak_ptr<testkit::UdpRecord> record = sockets.udp.front();
    sockets.udp.front()->onSend = [this, record](const testkit::Datagram& d) {
      if (!answer) return;
      if (auto reply = answer(d)) testkit::UdpRecord::deliver(record.lock(), *reply, d.to);
    };
  }
};

Stun::TransactionId idOf(const testkit::Datagram& request) { return *Stun::bindingRequestId(request.data); }

// A server that sees the client at `ip` and a port of its own choosing.
std::optional<Bytes> seenAs(const testkit::Datagram& d, uint32_t ip, uint16_t port) {
  return Stun::bindingSuccess(idOf(d), {ip, port});
}

TEST(NatProbe, BothServersSeeTheSameAddress) {
  NatRig rig;
  rig.answer = [](const testkit::Datagram& d) { return seenAs(d, 0xCB007107, 40000); };
  rig.start();
  rig.loop.runPending();
  ASSERT_TRUE(rig.result);
  EXPECT_EQ(rig.result->first, (Nat{Nat::Kind::easy, "203.0.113.7:40000", "", ""}));
  EXPECT_EQ(rig.result->second, (std::vector<std::string>{"one.example:3478 sees this PC as 203.0.113.7:40000",
                                                          "two.example:19302 sees this PC as 203.0.113.7:40000"}));
  // One socket for both, so both servers see the same local port; closed after.
  ASSERT_EQ(rig.sockets.udp.size(), 1u);
  EXPECT_FALSE(rig.sockets.udp[0]->alive());
  EXPECT_EQ(rig.sockets.udp[0]->sent[0].to, (Address{"192.0.2.1", 3478}));
  EXPECT_EQ(rig.sockets.udp[0]->sent[1].to, (Address{"192.0.2.2", 19302}));
}

TEST(NatProbe, EachServerSeesAnotherPort) {
  NatRig rig;
  rig.answer = [](const testkit::Datagram& d) { return seenAs(d, 0xCB007107, d.to.port == 3478 ? 40000 : 40001); };
  rig.start();
  rig.loop.runPending();
  ASSERT_TRUE(rig.result);
  EXPECT_EQ(rig.result->first, (Nat{Nat::Kind::symmetric, "203.0.113.7:40000", "203.0.113.7:40001", ""}));
}

TEST(NatProbe, SilenceFollowsTheRetrySchedule) {
  NatRig rig;
  rig.start();
  std::vector<double> sentAt;
  rig.sockets.udp[0]->onSend = [&](const testkit::Datagram&) { sentAt.push_back(rig.loop.now() - 1000.0); };
  rig.loop.runUntil([&] { return rig.result.has_value(); }, 60);
  ASSERT_TRUE(rig.result);
  ASSERT_EQ(sentAt.size(), 4u);
  for (size_t i = 0; i < sentAt.size(); ++i) EXPECT_NEAR(sentAt[i], 2.0 * double(i), 0.002) << i;
  EXPECT_NEAR(rig.loop.now() - 1000.0, 8.0, 0.002);
  EXPECT_EQ(rig.result->first.reason, "UDP to the internet is blocked here, or STUN is");
  EXPECT_EQ(rig.result->second,
            (std::vector<std::string>{"one.example:3478: no answer", "two.example:19302: no answer"}));
}

TEST(NatProbe, AWrongTransactionIsIgnoredAndTheRequestSentAgain) {
  NatRig rig;
  int requests = 0;
  rig.answer = [&](const testkit::Datagram& d) -> std::optional<Bytes> {
    ++requests;
    Stun::TransactionId id = idOf(d);
    if (d.to.port == 3478 && requests == 1) id[0] ^= 1;
    return Stun::bindingSuccess(id, {0xCB007107, 40000});
  };
  rig.start();
  rig.loop.runPending();
  EXPECT_FALSE(rig.result);
  rig.loop.advance(NatProbe::kAnswerWait);
  ASSERT_TRUE(rig.result);
  EXPECT_EQ(requests, 3);
  EXPECT_EQ(rig.result->first.kind, Nat::Kind::easy);
}

TEST(NatProbe, AnswersFromAnotherAddressAndGarbageAreIgnored) {
  NatRig rig;
  rig.start();
  rig.loop.runPending();
  auto record = rig.sockets.udp[0];
  const auto& request = record->sent.back();
  testkit::UdpRecord::deliver(record, Stun::bindingSuccess(idOf(request), {1, 2}), {"192.0.2.99", 3478});
  testkit::UdpRecord::deliver(record, Bytes(1500, 0x01), request.to);
  testkit::UdpRecord::deliver(record, Bytes{}, request.to);
  rig.loop.runPending();
  EXPECT_EQ(record->sent.size(), 1u);
  testkit::UdpRecord::deliver(record, Stun::bindingSuccess(idOf(request), {0x01020304, 5000}), request.to);
  rig.loop.runUntil([&] { return rig.result.has_value(); }, 60);
  ASSERT_TRUE(rig.result);
  EXPECT_EQ(rig.result->first.reason, "only one server answered");
  EXPECT_EQ(rig.result->second[0], "one.example:3478 sees this PC as 1.2.3.4:5000");
}

TEST(NatProbe, AServerThatDoesNotResolveIsNoAnswer) {
  NatRig rig;
  rig.answer = [](const testkit::Datagram& d) { return seenAs(d, 0x01020304, 5000); };
  rig.start({"nowhere.example:3478", "two.example:19302"});
  rig.loop.runPending();
  ASSERT_TRUE(rig.result);
  EXPECT_EQ(rig.result->second[0], "nowhere.example:3478: no answer");
  EXPECT_EQ(rig.result->first.reason, "only one server answered");
}

TEST(NatProbe, NoSocketIsUnknownWithoutLines) {
  NatRig rig;
  rig.sockets.udpFailure = std::errc::too_many_files_open;
  rig.start();
  EXPECT_FALSE(rig.result) << "never from inside start()";
  rig.loop.runPending();
  ASSERT_TRUE(rig.result);
  EXPECT_EQ(rig.result->first, (Nat{Nat::Kind::unknown, "", "", "no socket"}));
  EXPECT_TRUE(rig.result->second.empty());
}

TEST(NatProbe, DroppingTheProbeCancelsIt) {
  NatRig rig;
  rig.start();
  rig.loop.runPending();
  rig.probe.reset();
  rig.loop.advance(30);
  EXPECT_FALSE(rig.result);
  EXPECT_FALSE(rig.sockets.udp[0]->alive());
  EXPECT_EQ(rig.loop.pendingTimers(), 0u);
}

struct TcpRig {
  ManualLoop loop;
  testkit::FakeSocketFactory sockets{loop};
  std::optional<Tcp> result;
  double finishedAt = 0;
  std::shared_ptr<TcpProbe> probe;

  void start(const std::string& ip = "198.51.100.1", uint16_t port = 443) {
    probe = TcpProbe::start(loop, sockets, ip, port, [this](Tcp r) {
      EXPECT_FALSE(result) << "completes once";
      result = r;
      finishedAt = loop.now() - 1000.0;
    });
  }
  testkit::TcpRecord& link() { return *sockets.tcp.at(0); }
};

TEST(TcpProbe, AnEmptyAddressOrPortZeroIsOff) {
  for (auto [ip, port] : {std::pair{"", 443}, std::pair{"198.51.100.1", 0}}) {
    TcpRig rig;
    rig.start(ip, uint16_t(port));
    EXPECT_FALSE(rig.result);
    rig.loop.runPending();
    EXPECT_EQ(rig.result, Tcp{});
    EXPECT_TRUE(rig.sockets.tcp.empty());
  }
}

TEST(TcpProbe, APlimoServerAnswersTheHandshake) {
  TcpRig rig;
  rig.start();
  rig.loop.advance(0.3);
  EXPECT_TRUE(rig.link().sent.empty()) << "nothing before the link connects";
  rig.link().accept();
  rig.loop.advance(0.2);
  ASSERT_EQ(rig.link().sent.size(), 1u);
  const auto& [hello, droppable] = rig.link().sent[0];
  EXPECT_EQ(hello.size(), 82u);
  EXPECT_EQ(hello[0], 0x10);
  EXPECT_EQ(hello[1], 0x01);
  EXPECT_FALSE(droppable);
  testkit::TcpRecord::deliver(rig.sockets.tcp[0], Bytes{0x13});  // not a welcome: ignored
  rig.loop.advance(0.05);
  EXPECT_FALSE(rig.result);
  testkit::TcpRecord::deliver(rig.sockets.tcp[0], Bytes(194, 0x11));
  rig.loop.advance(0.05);
  ASSERT_TRUE(rig.result);
  EXPECT_EQ(rig.result->kind, Tcp::Kind::plimo);
  EXPECT_EQ(rig.result->milliseconds, 550);
  EXPECT_TRUE(rig.link().cancelled);
  EXPECT_EQ(rig.link().sent.size(), 1u) << "the hello goes once";
  rig.loop.advance(10);
}

TEST(TcpProbe, ARefusedConnectionEndsAtOnce) {
  TcpRig rig;
  rig.start();
  rig.link().finish("Connection refused");
  rig.loop.advance(0.2);
  ASSERT_TRUE(rig.result);
  EXPECT_EQ(*rig.result, (Tcp{Tcp::Kind::noConnection, 0, "Connection refused"}));
  EXPECT_LT(rig.finishedAt, 1.0);
}

TEST(TcpProbe, AListenerThatClosesIsAnotherProgram) {
  TcpRig rig;
  rig.start();
  rig.link().accept();
  rig.loop.advance(0.2);
  rig.link().finish("End of file");
  rig.loop.advance(0.2);
  ASSERT_TRUE(rig.result);
  EXPECT_EQ(*rig.result, (Tcp{Tcp::Kind::otherProgram, 0, "End of file"}));
}

TEST(TcpProbe, ASilentListenerIsAnotherProgramAfterEightSeconds) {
  TcpRig rig;
  rig.start();
  rig.link().accept();
  rig.loop.advance(7.9);
  EXPECT_FALSE(rig.result);
  rig.loop.advance(0.2);
  ASSERT_TRUE(rig.result);
  EXPECT_EQ(*rig.result, (Tcp{Tcp::Kind::otherProgram, 0, "connected, but no Plimo answer"}));
  EXPECT_NEAR(rig.finishedAt, 8.0, 1e-6);
  EXPECT_TRUE(rig.link().cancelled);
}

TEST(TcpProbe, ALinkThatNeverConnectsIsNoConnectionAfterEightSeconds) {
  TcpRig rig;
  rig.start();
  rig.loop.advance(9);
  ASSERT_TRUE(rig.result);
  EXPECT_EQ(*rig.result, (Tcp{Tcp::Kind::noConnection, 0, "no answer in 8 s"}));
  EXPECT_NEAR(rig.finishedAt, 8.0, 1e-6);
  EXPECT_EQ(rig.loop.pendingTimers(), 0u);
}

TEST(TcpProbe, DroppingTheProbeCancelsIt) {
  TcpRig rig;
  rig.start();
  rig.link().accept();
  rig.loop.advance(0.2);
  rig.probe.reset();
  testkit::TcpRecord::deliver(rig.sockets.tcp[0], Bytes{0x11});
  rig.loop.advance(10);
  EXPECT_FALSE(rig.result);
}

}  // namespace
