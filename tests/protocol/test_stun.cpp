// The STUN Binding reader and builders: RFC 5769's sample answer, the order
// of the two address attributes, and answers that are cut short, foreign or
// garbage.

#include <gtest/gtest.h>

#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/wire/Stun.h"

using namespace plimo;

namespace {

Stun::TransactionId idFrom(std::string_view hexText) {
  Bytes raw = *PlimoCrypto::fromHex(hexText);
  Stun::TransactionId id{};
  std::copy(raw.begin(), raw.end(), id.begin());
  return id;
}

Bytes fromHex(std::string_view text) { return *PlimoCrypto::fromHex(text); }

// RFC 5769, 2.2: a Binding Success Response with SOFTWARE, XOR-MAPPED-ADDRESS
// 192.0.2.1:32853, MESSAGE-INTEGRITY and FINGERPRINT.
const Stun::TransactionId kVectorId = idFrom("B7E7A701BC34D686FA87DFAE");
const Bytes kVector = fromHex(
    "0101003C2112A442B7E7A701BC34D686FA87DFAE"
    "8022000B7465737420766563746F7220"
    "002000080001A147E112A643"
    "000800142B91F599FD9E90C38C7489F92AF9BA53F06BE7D7"
    "80280004C07D4C96");

const Stun::TransactionId kId = idFrom("0102030405060708090A0B0C");
const std::string kHeader = "2112A4420102030405060708090A0B0C";
// 203.0.113.7:40000 in both forms.
const std::string kMapped = "000100080001" "9C40" "CB007107";
const std::string kXorMapped = "002000080001" "BD52" "EA12D545";

Bytes answer(std::string_view attributes, std::string_view type = "0101") {
  Bytes body = fromHex(attributes);
  Bytes out = fromHex(type);
  appendBE<uint16_t>(out, uint16_t(body.size()));
  append(out, fromHex(kHeader));
  append(out, body);
  return out;
}

TEST(Stun, ReadsTheRfc5769IPv4Response) {
  auto mapped = Stun::mappedAddress(kVector, kVectorId);
  ASSERT_TRUE(mapped);
  EXPECT_EQ(mapped->text(), "192.0.2.1:32853");
}

TEST(Stun, TheRequestIsTwentyBytesWithTheCookieAndTheId) {
  EXPECT_EQ(PlimoCrypto::hex(Stun::bindingRequest(kId)), "00010000" + kHeader);
}

TEST(Stun, FreshTransactionIdsDiffer) { EXPECT_NE(Stun::randomTransactionId(), Stun::randomTransactionId()); }

struct AnswerCase {
  const char* name;
  Bytes packet;
  std::optional<std::string> mapped;
};

class StunAnswers : public testing::TestWithParam<AnswerCase> {};

TEST_P(StunAnswers, GiveTheExpectedAddress) {
  auto mapped = Stun::mappedAddress(GetParam().packet, kId);
  if (GetParam().mapped) {
    ASSERT_TRUE(mapped);
    EXPECT_EQ(mapped->text(), *GetParam().mapped);
  } else {
    EXPECT_FALSE(mapped) << mapped->text();
  }
}

Bytes cut(Bytes b, size_t n) {
  b.resize(n);
  return b;
}

Bytes withId(Bytes b, uint8_t last) {
  b[19] = last;
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StunAnswers,
    testing::Values(
        AnswerCase{"xorMapped", answer(kXorMapped), "203.0.113.7:40000"},
        AnswerCase{"plainMapped", answer(kMapped), "203.0.113.7:40000"},
        AnswerCase{"mappedBeforeXor", answer(kMapped + "002000080001BD52EA12D544"), "203.0.113.6:40000"},
        AnswerCase{"mappedAfterXor", answer("002000080001BD52EA12D544" + kMapped), "203.0.113.6:40000"},
        AnswerCase{"skipsOtherAttributesAndPadding", answer("80220003616263FF" + kXorMapped), "203.0.113.7:40000"},
        AnswerCase{"ipv6IsNotUsed", answer("0020001400029C40" + std::string(32, 'A')), std::nullopt},
        AnswerCase{"ipv6XorThenIpv4Mapped", answer("0020001400029C40" + std::string(32, 'A') + kMapped),
                   "203.0.113.7:40000"},
        AnswerCase{"shortAddressValue", answer("0020000700019C40CB0071"), std::nullopt},
        AnswerCase{"noAddress", answer("8022000474657374"), std::nullopt},
        AnswerCase{"noAttributes", answer(""), std::nullopt},
        AnswerCase{"wrongTransactionId", withId(answer(kXorMapped), 0x0D), std::nullopt},
        AnswerCase{"bindingRequestNotAnswer", answer(kXorMapped, "0001"), std::nullopt},
        AnswerCase{"errorResponse", answer(kXorMapped, "0111"), std::nullopt},
        AnswerCase{"shorterThanHeader", cut(answer(kXorMapped), 19), std::nullopt},
        AnswerCase{"empty", Bytes{}, std::nullopt},
        // An attribute running past the datagram ends the walk; one found
        // before it still counts.
        AnswerCase{"truncatedXor", cut(answer(kXorMapped), 31), std::nullopt},
        AnswerCase{"truncatedAfterMapped", cut(answer(kMapped + kXorMapped), 40), "203.0.113.7:40000"},
        AnswerCase{"lengthPastEnd", answer("0020FFF00001BD52EA12D545"), std::nullopt},
        AnswerCase{"lastAttributeWithoutPadding", answer("00010007000100509C4000"), std::nullopt},
        AnswerCase{"garbage", fromHex("DEADBEEF00112233445566778899AABBCCDDEEFF0011"), std::nullopt}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(Stun, ReadsNoFurtherThanTheLargestAnswer) {
  // A real address beyond the first kMaxAnswerSize bytes is not looked at.
  std::string filler = "8022" "03F0" + std::string(2 * 0x3F0, 'A');
  EXPECT_FALSE(Stun::mappedAddress(answer(filler + kXorMapped), kId));
  EXPECT_TRUE(Stun::mappedAddress(answer(kXorMapped + filler), kId));
}

TEST(Stun, TheServerAnswerRoundTrips) {
  Stun::Mapped seen{0xC6336407, 47800};
  Bytes reply = Stun::bindingSuccess(kId, seen);
  EXPECT_EQ(reply.size(), 32u);
  EXPECT_EQ(Stun::mappedAddress(reply, kId), seen);
  EXPECT_EQ(seen.text(), "198.51.100.7:47800");
}

TEST(Stun, TheServerTakesOnlyWellFormedBindingRequests) {
  Bytes request = Stun::bindingRequest(kId);
  EXPECT_EQ(Stun::bindingRequestId(request), kId);

  Bytes withAttribute = fromHex("00010008" + kHeader + "8022000474657374");
  EXPECT_EQ(Stun::bindingRequestId(withAttribute), kId);

  Bytes noCookie = request;
  noCookie[4] = 0;
  Bytes lengthLies = request;
  lengthLies[3] = 4;
  Bytes indication = request;
  indication[1] = 0x11;
  for (const Bytes& bad : {noCookie, lengthLies, indication, cut(request, 19), Bytes{}, Bytes{0x10, 0x01},
                           Stun::bindingSuccess(kId, {1, 2})})
    EXPECT_FALSE(Stun::bindingRequestId(bad)) << PlimoCrypto::hex(bad);
}

}  // namespace
