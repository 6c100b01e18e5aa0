// plimo-server answers STUN Binding Requests on its UDP port with the
// sender's own address, and nothing else that looks like STUN.

#include <gtest/gtest.h>

#include "protocol/PlimoCrypto.h"
#include "protocol/Stun.h"
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

}  // namespace
