// plimo-server answers STUN Binding Requests on its UDP port with the
// sender's own address, and nothing else that looks like STUN.

#include <gtest/gtest.h>

#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/wire/Stun.h"
#include "server/ServerRig.h"
#include "server/StunAnswer.h"

using namespace plimo;
using namespace plimo::testkit;

namespace {

const Stun::TransactionId kId{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
// 203.0.113.7:40000
const Endpoint kFrom = Endpoint::udp(0xCB007107, 40000);

TEST(StunAnswer, ABindingRequestOverUdpLearnsItsAddress) {
  ServerRig rig;
  rig.server.receive(kFrom, Stun::bindingRequest(kId));
  ASSERT_EQ(rig.sink.sent.size(), 1u);
  EXPECT_EQ(rig.sink.sent[0].to, kFrom);
  auto mapped = Stun::mappedAddress(rig.sink.sent[0].packet, kId);
  ASSERT_TRUE(mapped);
  EXPECT_EQ(mapped->text(), "203.0.113.7:40000");
  EXPECT_EQ(rig.server.sessions().size(), 0u) << "no client session for a STUN request";
}

TEST(StunAnswer, NothingElseGetsAnAnswer) {
  Bytes request = Stun::bindingRequest(kId);
  Bytes lengthLies = request;
  lengthLies[3] = 8;
  Bytes answer = Stun::bindingSuccess(kId, {1, 2});
  Bytes cut(request.begin(), request.begin() + 19);
  for (const Bytes& packet : {lengthLies, answer, cut, Bytes{0x00}, Bytes{0x01, 0x01}}) {
    ServerRig rig;
    rig.server.receive(kFrom, packet);
    EXPECT_TRUE(rig.sink.sent.empty()) << PlimoCrypto::hex(packet);
  }
  // Over TCP the address is no NAT mapping: not answered.
  EXPECT_FALSE(stunAnswer(Endpoint::tcp(0xCB007107, 40000, 7), request));
  EXPECT_TRUE(stunAnswer(kFrom, request));
}

// Every request was answered: 20,000 answers a second to one (forged)
// source, at 1.6 times the bytes it cost the sender.
TEST(StunAnswer, AStunFloodFromOneAddressIsAnsweredOnlyWithinItsBudget) {
  ServerRig rig;
  const Endpoint other = Endpoint::udp(0xCB007108, 40000);
  Bytes request = Stun::bindingRequest(kId);
  // Two seconds of a flood, 10,000 requests a second.
  for (int i = 0; i < 20000; ++i) {
    rig.server.receive(Endpoint::udp(kFrom.ip, uint16_t(1024 + i % 50000)), request);
    rig.loop.advance(0.0001);
  }
  size_t burst = size_t(kStunAnswersPerAddress.burst), refill = size_t(2 * kStunAnswersPerAddress.perSecond);
  EXPECT_GE(rig.sink.sent.size(), burst + refill - 1);
  EXPECT_LE(rig.sink.sent.size(), burst + refill + 1);
  for (const auto& sent : rig.sink.sent) {
    EXPECT_EQ(sent.packet.size(), 32u) << "a header and one XOR-MAPPED-ADDRESS is all it needs";
    EXPECT_EQ(sent.to.ip, kFrom.ip);
  }
  // Another address has its own budget, and the flooded one refills.
  rig.sink.sent.clear();
  rig.server.receive(other, request);
  EXPECT_EQ(rig.sink.sent.size(), 1u);
  rig.loop.advance(1.0 / kStunAnswersPerAddress.perSecond);
  rig.server.receive(kFrom, request);
  EXPECT_EQ(rig.sink.sent.size(), 2u);
  ASSERT_TRUE(Stun::mappedAddress(rig.sink.sent.back().packet, kId));
  EXPECT_EQ(Stun::mappedAddress(rig.sink.sent.back().packet, kId)->text(), "203.0.113.7:40000");
}

}  // namespace
