// Sealed packets: the wire layout against a published AES-256-GCM vector, the
// replay window, tampering and concurrent sealing.

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>

#include "protocol/crypto/EcdhKey.h"
#include "protocol/wire/SecureChannel.h"
#include "testkit/Failures.h"

using namespace plimo;
using PlimoCrypto::fromHex;
using PlimoCrypto::hex;

namespace {

Bytes unhex(std::string_view text) { return fromHex(text).value(); }

// A straight one-shot AES-256-GCM, written apart from the channel's own code;
// checked against the published vector below before it is trusted.
struct Gcm {
  Bytes ciphertext;
  Bytes tag;
};
Gcm referenceGcm(const Bytes& key, const Bytes& nonce, const Bytes& aad, const Bytes& plaintext) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Gcm out{Bytes(plaintext.size()), Bytes(16)};
  int length = 0;
  EXPECT_EQ(EVP_EncryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, key.data(), nonce.data()), 1);
  EXPECT_EQ(EVP_EncryptUpdate(ctx, nullptr, &length, aad.data(), int(aad.size())), 1);
  EXPECT_EQ(EVP_EncryptUpdate(ctx, out.ciphertext.data(), &length, plaintext.data(),
                              int(plaintext.size())),
            1);
  EXPECT_EQ(EVP_EncryptFinal_ex(ctx, out.ciphertext.data() + length, &length), 1);
  EXPECT_EQ(EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, 16, out.tag.data()), 1);
  EVP_CIPHER_CTX_free(ctx);
  return out;
}

// Test case 16 of McGrew and Viega, "The Galois/Counter
// Mode of Operation" (2005): 256-bit key, 96-bit IV, 60-byte plaintext, AAD.
const Bytes kKey = unhex("feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308");
const Bytes kIv = unhex("cafebabefacedbaddecaf888");
const Bytes kPlain = unhex(
    "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a72"
    "1c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b39");
const Bytes kAad = unhex("feedfacedeadbeeffeedfacedeadbeefabaddad2");
const Bytes kCipher = unhex(
    "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa"
    "8cb08e48590dbb3da7b08b1056828838c5f61e6393ba7a0abcc9f662");
const Bytes kTag = unhex("76fc6ece0f4e1768cddf8853bb2d551b");

Bytes key(uint8_t fill) { return Bytes(32, fill); }

// Two mirror-image ends of a partner channel.
struct Pair {
  SecureChannel a{SecureChannel::kPeerType, key(1), key(2), 3, 4};
  SecureChannel b{SecureChannel::kPeerType, key(2), key(1), 4, 3};
};

}  // namespace

TEST(SecureChannelVector, PublishedGcmVectorThroughTheNonceAndHeaderLayout) {
  // The reference reproduces the published answer.
  Gcm published = referenceGcm(kKey, kIv, kAad, kPlain);
  ASSERT_EQ(published.ciphertext, kCipher);
  ASSERT_EQ(published.tag, kTag);

  // Read as a channel nonce, the IV is label CAFEBABE (LE) and counter
  // FACEDBADDECAF888 (LE). A packet carrying that counter and the published
  // ciphertext opens to the published plaintext; only the tag differs,
  // because the associated data is the packet's own 9-byte header.
  uint32_t label = readLE32(kIv, 0);
  Bytes header = {SecureChannel::kPeerType};
  append(header, bytes(kIv, 4, 8));
  Bytes packet = header;
  append(packet, kCipher);
  append(packet, referenceGcm(kKey, kIv, header, kPlain).tag);
  SecureChannel channel(SecureChannel::kPeerType, key(9), kKey, 1, label);
  EXPECT_EQ(channel.open(packet), kPlain);

  // The published tag was made over other associated data, so the same bytes
  // with it are refused.
  Bytes withPublishedTag = header;
  append(withPublishedTag, kCipher);
  append(withPublishedTag, kTag);
  EXPECT_FALSE(channel.open(withPublishedTag).has_value());

  // Sealing with that key: nonce = label 1 LE ‖ counter 1 LE, AAD = header.
  SecureChannel sender(SecureChannel::kServerType, kKey, key(9), 1, 2);
  Bytes sealed = sender.seal(kPlain);
  Gcm expected = referenceGcm(kKey,
                              unhex("01000000"
                                    "0100000000000000"),
                              unhex("12"
                                    "0100000000000000"),
                              kPlain);
  EXPECT_EQ(hex(sealed), "120100000000000000" + hex(expected.ciphertext) + hex(expected.tag));
}

TEST(SecureChannel, CountersStartAtOneAndSizesAddTwentyFive) {
  Pair p;
  Bytes first = p.a.seal(Bytes{0x42});
  ASSERT_EQ(first.size(), 26u);
  EXPECT_EQ(first[0], SecureChannel::kPeerType);
  EXPECT_EQ(readLE64(first, 1), 1u);
  Bytes second = p.a.seal(Bytes(1182, 7));
  EXPECT_EQ(second.size(), 1182u + 25);
  EXPECT_EQ(readLE64(second, 1), 2u);
  EXPECT_EQ(p.b.open(first), (Bytes{0x42}));
  EXPECT_EQ(p.b.open(second), Bytes(1182, 7));
  // Each end opens only what the other sealed.
  EXPECT_FALSE(p.a.open(p.a.seal(Bytes{1})).has_value());
}

TEST(SecureChannel, EmptyPlaintextAndShortPacketsAreRefused) {
  Pair p;
  Bytes empty = p.a.seal(Bytes{});
  EXPECT_EQ(empty.size(), 25u);
  EXPECT_FALSE(p.b.open(empty).has_value());
  Bytes good = p.a.seal(Bytes{1, 2, 3});
  for (size_t length = 0; length < good.size(); ++length) {
    EXPECT_FALSE(p.b.open(bytes(good, 0, length)).has_value()) << length;
  }
  EXPECT_TRUE(p.b.open(good).has_value());
}

TEST(SecureChannel, RelayPairAndTypeBytes) {
  PlimoCrypto::RelayKeys keys{key(5), key(6)};
  auto client = SecureChannel::clientToServer(keys);
  auto server = SecureChannel::serverToClient(keys);
  EXPECT_EQ(server->open(client->seal(toBytes("HELLO"))), toBytes("HELLO"));
  EXPECT_EQ(client->open(server->seal(toBytes("ID 1"))), toBytes("ID 1"));

  // A server packet with the partner channel's keys and labels is still
  // refused by the partner channel: the type byte differs.
  SecureChannel serverTyped(SecureChannel::kServerType, key(1), key(2), 3, 4);
  Pair p;
  Bytes packet = serverTyped.seal(Bytes{1});
  EXPECT_EQ(packet[0], 0x12);
  EXPECT_FALSE(p.b.open(packet).has_value());
  packet[0] = SecureChannel::kPeerType;  // same counter, but the header is authenticated
  EXPECT_FALSE(p.b.open(packet).has_value());
}

TEST(SecureChannel, PartnersFromKeyAgreementTalkBothWays) {
  EcdhKey a, b;
  auto ka =
      PlimoCrypto::derivePeerKeys(a.sharedSecret(b.publicKey()), a.publicKey(), b.publicKey());
  auto kb =
      PlimoCrypto::derivePeerKeys(b.sharedSecret(a.publicKey()), b.publicKey(), a.publicKey());
  auto ca = SecureChannel::toPartner(ka), cb = SecureChannel::toPartner(kb);
  EXPECT_EQ(cb->open(ca->seal(toBytes("PUNCH"))), toBytes("PUNCH"));
  EXPECT_EQ(ca->open(cb->seal(toBytes("PUNCHACK"))), toBytes("PUNCHACK"));
}

TEST(SecureChannel, ReplaysAndOldCountersAreRefused) {
  Pair p;
  std::vector<Bytes> packets;
  for (int i = 0; i < 100; ++i) packets.push_back(p.a.seal(Bytes{uint8_t(i)}));
  // Delivered newest first: 100 down to 37 open, 36 and below are too old.
  for (int c = 100; c >= 1; --c) {
    EXPECT_EQ(p.b.open(packets[size_t(c - 1)]).has_value(), c >= 37) << c;
  }
  // Every accepted one is refused a second time.
  for (int c = 100; c >= 37; --c) EXPECT_FALSE(p.b.open(packets[size_t(c - 1)]).has_value());
}

TEST(SecureChannel, AFlippedBitIsRefusedAndLeavesTheWindowAlone) {
  Pair p;
  Bytes first = p.a.seal(toBytes("first"));
  Bytes second = p.a.seal(toBytes("second"));
  Bytes third = p.a.seal(toBytes("third"));
  ASSERT_TRUE(p.b.open(second).has_value());
  // Every single-bit change of the header, ciphertext or tag is refused; a
  // changed counter that were marked would push 1 and 3 out of the window or
  // use them up.
  for (const Bytes* packet : {&first, &third}) {
    for (size_t bit = 0; bit < packet->size() * 8; ++bit) {
      Bytes flipped = *packet;
      flipped[bit / 8] ^= uint8_t(1 << (bit % 8));
      EXPECT_FALSE(p.b.open(flipped).has_value()) << "bit " << bit;
    }
  }
  EXPECT_EQ(p.b.open(third), toBytes("third"));
  EXPECT_EQ(p.b.open(first), toBytes("first"));
}

TEST(SecureChannel, CounterZeroIsRefusedEvenWithAValidTag) {
  Pair p;
  Bytes header = {SecureChannel::kPeerType, 0, 0, 0, 0, 0, 0, 0, 0};
  Gcm sealed = referenceGcm(key(1),
                            unhex("03000000"
                                  "0000000000000000"),
                            header, Bytes{1, 2});
  Bytes packet = header;
  append(packet, sealed.ciphertext);
  append(packet, sealed.tag);
  EXPECT_FALSE(p.b.open(packet).has_value());
  // The same construction at counter 1 does open: only the zero was at fault.
  header[1] = 1;
  sealed = referenceGcm(key(1),
                        unhex("03000000"
                              "0100000000000000"),
                        header, Bytes{1, 2});
  packet = header;
  append(packet, sealed.ciphertext);
  append(packet, sealed.tag);
  EXPECT_EQ(p.b.open(packet), (Bytes{1, 2}));
}

TEST(SecureChannel, GarbageOfAnyLengthIsRefused) {
  Pair p;
  std::mt19937 random(7);
  for (int i = 0; i < 2000; ++i) {
    Bytes junk(random() % 200);
    for (auto& b : junk) b = uint8_t(random());
    if (!junk.empty() && i % 2 == 0) junk[0] = SecureChannel::kPeerType;
    EXPECT_FALSE(p.b.open(junk).has_value());
  }
  EXPECT_EQ(p.b.open(p.a.seal(Bytes{9})), Bytes{9});
}

TEST(SecureChannel, KeysOfTheWrongLengthThrowBadKey) {
  for (size_t length : {0, 16, 31, 33, 64}) {
    const auto wrongSendKey = [&] { SecureChannel(SecureChannel::kPeerType, Bytes(length, 1), key(2), 3, 4); };
    EXPECT_EQ(testkit::failureKind(wrongSendKey), Failure::Kind::badKey) << length;
    EXPECT_THROW(SecureChannel(SecureChannel::kPeerType, key(1), Bytes(length, 2), 3, 4), Failure);
  }
}

TEST(SecureChannel, TwoThreadsSealingNeverShareACounter) {
  Pair p;
  constexpr int kEach = 2000;
  std::vector<Bytes> fromOne, fromTwo;
  auto sealMany = [&](std::vector<Bytes>& out, uint8_t tag) {
    for (int i = 0; i < kEach; ++i) out.push_back(p.a.seal(Bytes{tag}));
  };
  std::thread one(sealMany, std::ref(fromOne), 1);
  std::thread two(sealMany, std::ref(fromTwo), 2);
  one.join();
  two.join();

  std::vector<Bytes> all = fromOne;
  all.insert(all.end(), fromTwo.begin(), fromTwo.end());
  std::sort(all.begin(), all.end(),
            [](const Bytes& x, const Bytes& y) { return readLE64(x, 1) < readLE64(y, 1); });
  for (size_t i = 0; i < all.size(); ++i) {
    ASSERT_EQ(readLE64(all[i], 1), i + 1);
    ASSERT_TRUE(p.b.open(all[i]).has_value()) << i;
  }
}

TEST(SecureChannel, ConcurrentOpensAcceptEachPacketOnce) {
  Pair p;
  std::vector<Bytes> packets;
  for (int i = 0; i < 500; ++i) packets.push_back(p.a.seal(Bytes{uint8_t(i)}));
  std::atomic<int> opened{0};
  auto openAll = [&] {
    for (const Bytes& packet : packets) {
      if (p.b.open(packet)) ++opened;
    }
  };
  std::thread one(openAll), two(openAll);
  one.join();
  two.join();
  // Both threads offer every packet in order; whichever wins, each counter
  // is accepted exactly once.
  EXPECT_EQ(opened.load(), 500);
}
