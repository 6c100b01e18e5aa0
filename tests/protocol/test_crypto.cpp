// Hex forms, hashes, derivations and check numbers against published answers
// and against each other side of a pair.

#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "protocol/crypto/EcdhKey.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "testkit/Failures.h"

using namespace plimo;
using namespace plimo::PlimoCrypto;

namespace {

Bytes unhex(std::string_view text) { return fromHex(text).value(); }

}  // namespace

TEST(Hex, UpperCaseOutAndEitherCaseIn) {
  EXPECT_EQ(hex(Bytes{0x00, 0xAB, 0xFF}), "00ABFF");
  EXPECT_EQ(hex(Bytes{}), "");
  EXPECT_EQ(fromHex("00abff"), (Bytes{0x00, 0xAB, 0xFF}));
  EXPECT_EQ(fromHex("00ABFF"), (Bytes{0x00, 0xAB, 0xFF}));
  EXPECT_EQ(fromHex(""), Bytes{});
  Bytes all(256);
  for (size_t i = 0; i < all.size(); ++i) all[i] = uint8_t(i);
  EXPECT_EQ(fromHex(hex(all)), all);
}

TEST(Hex, RefusesOddLengthsAndForeignCharacters) {
  for (const char* bad : {"0", "0G", " 00", "00 ", "0x00", "g0", "ABC", "-1", "\xC3\xA9\xC3\xA9"}) {
    EXPECT_FALSE(fromHex(bad).has_value()) << bad;
  }
  EXPECT_FALSE(fromHex(std::string_view("0\0", 2)).has_value());
}

TEST(Fingerprint, FirstEightBytesOfSha256InFourGroups) {
  EXPECT_EQ(keyFingerprint(Bytes{}), "(none)");
  // SHA-256("abc") = BA7816BF 8F01CFEA ... (FIPS 180-2, appendix B.1).
  EXPECT_EQ(keyFingerprint(toBytes("abc")), "BA78 16BF 8F01 CFEA");
  EcdhKey key;
  std::string print = keyFingerprint(key.publicKey());
  EXPECT_TRUE(std::regex_match(print, std::regex("([0-9A-F]{4} ){3}[0-9A-F]{4}"))) << print;
}

TEST(Compare, UnsignedBytesThenLength) {
  EXPECT_EQ(compare(Bytes{1, 2}, Bytes{1, 5}), -3);
  EXPECT_EQ(compare(Bytes{1, 5}, Bytes{1, 2}), 3);
  EXPECT_EQ(compare(Bytes{1}, Bytes{1, 0}), -1);
  EXPECT_EQ(compare(Bytes{1, 0}, Bytes{1}), 1);
  EXPECT_EQ(compare(Bytes{7, 7}, Bytes{7, 7}), 0);
  EXPECT_EQ(compare(Bytes{}, Bytes{}), 0);
  EXPECT_GT(compare(Bytes{0xFF}, Bytes{0x01}), 0);  // unsigned, not signed char
}

TEST(Hmac, Rfc4231AndEmptyKey) {
  // RFC 4231 test case 2.
  EXPECT_EQ(hex(hmacSha256(toBytes("Jefe"), toBytes("what do ya want for nothing?"))),
            "5BDCC146BF60754E6A042426089575C75A003F089D2739839DEC58B964EC3843");
  EXPECT_EQ(hmacSha256(Bytes{}, toBytes("x")), hmacSha256(Bytes(32, 0), toBytes("x")));
}

TEST(Hkdf, Rfc5869KnownAnswers) {
  Bytes ikm(22, 0x0B);
  // Test case 1.
  EXPECT_EQ(hex(hkdf(unhex("000102030405060708090a0b0c"), ikm, unhex("f0f1f2f3f4f5f6f7f8f9"), 42)),
            "3CB25F25FAACD57A90434F64D0362F2A2D2D0A90CF1A5A4C5DB02D56ECC4C5BF34007208D5B887185865");
  // Test case 3: no salt, no info.
  EXPECT_EQ(hex(hkdf(Bytes{}, ikm, Bytes{}, 42)),
            "8DA4E775A563C18F715F802A063C5A31B8A11F5C5EE1879EC3454E5F3C738D2D9D201395FAA4B61A96C8");
}

TEST(Hkdf, LengthsAndEmptySalt) {
  Bytes ikm = toBytes("secret");
  Bytes info = toBytes("info");
  EXPECT_EQ(hkdf(Bytes{}, ikm, info, 32), hkdf(Bytes(32, 0), ikm, info, 32));
  EXPECT_TRUE(hkdf(Bytes{}, ikm, info, 0).empty());
  Bytes long100 = hkdf(toBytes("s"), ikm, info, 100);
  ASSERT_EQ(long100.size(), 100u);
  // Shorter outputs are prefixes of longer ones.
  EXPECT_EQ(hkdf(toBytes("s"), ikm, info, 33), bytes(long100, 0, 33));
  EXPECT_EQ(hkdf(toBytes("s"), ikm, info, 1), bytes(long100, 0, 1));
}

TEST(Transcript, LabelThenTheFourPartsUnframed) {
  Bytes clientEph(64, 0xC1), clientRandom(16, 0xC2), relayEph(64, 0xA1), relayKey(64, 0xA2);
  Bytes t = relayTranscript(clientEph, clientRandom, relayEph, relayKey);
  ASSERT_EQ(t.size(), 24u + 64 + 16 + 64 + 64);
  EXPECT_EQ(toString(bytes(t, 0, 24)), "PLIMO-RELAY-HANDSHAKE-V1");
  EXPECT_EQ(bytes(t, 24, 64), clientEph);
  EXPECT_EQ(bytes(t, 88, 16), clientRandom);
  EXPECT_EQ(bytes(t, 104, 64), relayEph);
  EXPECT_EQ(bytes(t, 168, 64), relayKey);
}

TEST(KeyAgreement, BothSidesGetOneSecretAndRelayKeys) {
  EcdhKey client, server;
  ASSERT_EQ(client.publicKey().size(), 64u);
  Bytes secret = client.sharedSecret(server.publicKey());
  ASSERT_EQ(secret.size(), 32u);
  EXPECT_EQ(secret, server.sharedSecret(client.publicKey()));
  EXPECT_NE(secret, EcdhKey().sharedSecret(server.publicKey()));

  Bytes random = randomBytes(16);
  RelayKeys keys = deriveRelayKeys(secret, random);
  EXPECT_EQ(keys.c2s, hkdf(random, secret, toBytes("plimo relay c2s v1"), 32));
  EXPECT_EQ(keys.s2c, hkdf(random, secret, toBytes("plimo relay s2c v1"), 32));
  EXPECT_NE(keys.c2s, keys.s2c);
}

TEST(KeyAgreement, BadPartnerKeysThrowBadKey) {
  EcdhKey mine, other;
  Bytes good = other.publicKey();
  Bytes x963 = {0x04};
  append(x963, good);
  Bytes offCurve = good;
  offCurve[63] ^= 0x01;
  Bytes outOfField(64, 0xFF);  // coordinates beyond the field prime
  std::vector<Bytes> bad = {Bytes{},    Bytes(63, 1),      x963, Bytes(64, 0), offCurve,
                            outOfField, bytes(good, 0, 32)};
  for (const Bytes& key : bad) {
    EXPECT_EQ(testkit::failureKind([&] { mine.sharedSecret(key); }), Failure::Kind::badKey) << hex(key);
  }
}

TEST(PeerKeys, BothSidesDeriveCrossedKeysAndLabels) {
  for (int round = 0; round < 8; ++round) {
    EcdhKey a, b;
    PeerKeys ka = derivePeerKeys(a.sharedSecret(b.publicKey()), a.publicKey(), b.publicKey());
    PeerKeys kb = derivePeerKeys(b.sharedSecret(a.publicKey()), b.publicKey(), a.publicKey());
    EXPECT_EQ(ka.send, kb.recv);
    EXPECT_EQ(ka.recv, kb.send);
    EXPECT_NE(ka.send, ka.recv);
    EXPECT_EQ(ka.sendLabel, kb.recvLabel);
    EXPECT_EQ(ka.recvLabel, kb.sendLabel);
    const PeerKeys& lower = compare(a.publicKey(), b.publicKey()) < 0 ? ka : kb;
    EXPECT_EQ(lower.sendLabel, kLabelLowToHigh);
    EXPECT_EQ(lower.recvLabel, kLabelHighToLow);
  }
}

TEST(PeerKeys, KeysOfAnyLengthDeriveWithoutFailing) {
  // Lengths are checked where keys are parsed; the derivations themselves
  // take any bytes.
  for (const Bytes& odd : {Bytes{}, Bytes(1, 9), Bytes(65, 4), Bytes(300, 0xFF)}) {
    PeerKeys keys = derivePeerKeys(Bytes{}, odd, Bytes(64, 7));
    EXPECT_EQ(keys.send.size(), 32u);
    EXPECT_EQ(keys.recv.size(), 32u);
    EXPECT_EQ(checkNumber(odd, Bytes{}).size(), 7u);
    EXPECT_EQ(deriveRelayKeys(odd, odd).c2s.size(), 32u);
  }
}

TEST(CheckNumber, SameEitherWayAndZeroPadded) {
  EcdhKey a, b;
  std::string n = checkNumber(a.publicKey(), b.publicKey());
  EXPECT_EQ(n, checkNumber(b.publicKey(), a.publicKey()));
  EXPECT_TRUE(std::regex_match(n, std::regex("[0-9]{3} [0-9]{3}"))) << n;

  // About one pair in a thousand has n < 1000; the text must then keep its
  // leading zeros.
  Bytes fixed(64, 0x11);
  bool found = false;
  for (uint32_t i = 0; i < 100000 && !found; ++i) {
    Bytes other(64, 0x22);
    writeLE(other.data(), i);
    Bytes input = toBytes("plimo check number v1");
    append(input, fixed);
    append(input, other);
    uint32_t value = readBE<uint32_t>(sha256(input), 0) % 1000000;
    if (value >= 1000) continue;
    found = true;
    char expected[8];
    std::snprintf(expected, sizeof expected, "000 %03u", value);
    EXPECT_EQ(checkNumber(other, fixed), expected);
  }
  EXPECT_TRUE(found);
}

TEST(Random, RightLengthAndNotRepeating) {
  EXPECT_TRUE(randomBytes(0).empty());
  std::set<Bytes> seen;
  for (int i = 0; i < 100; ++i) seen.insert(randomBytes(16));
  EXPECT_EQ(seen.size(), 100u);
  EXPECT_EQ(randomBytes(1000).size(), 1000u);
}
