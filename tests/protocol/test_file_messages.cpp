// The file transfer's messages against their literal bytes, and what each
// reader makes of bytes a partner may send instead.

#include <gtest/gtest.h>

#include "protocol/wire/FileMessages.h"

using namespace plimo;
using namespace plimo::FileMsg;

namespace {

const Bytes kDigestBytes(32, 0xAB);

Bytes offerBytes(size_t nameLength) {
  Bytes out{0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  append(out, kDigestBytes);
  append(out, Bytes(nameLength, 'n'));
  return out;
}

TEST(FileMessages, EachWriterGivesItsLiteralBytes) {
  Bytes offer{0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0x03, 0x00, 0x00, 0x00, 0x00};
  append(offer, kDigestBytes);
  append(offer, toBytes("a.log"));
  const struct {
    const char* what;
    Bytes bytes, expected;
  } table[] = {
      {"offer", encode(Offer{7, 50u << 20, kDigestBytes, "a.log"}), offer},
      {"accept", encode(Reply{0x01020304, Answer::accept}), {0x04, 0x03, 0x02, 0x01, 0x00}},
      {"no room", encode(Reply{1, Answer::noRoom}), {0x01, 0x00, 0x00, 0x00, 0x03}},
      {"chunk", encodeChunk(2, 0x0102, Bytes{0xEE}), {0x02, 0, 0, 0, 0x02, 0x01, 0, 0, 0, 0, 0, 0, 0xEE}},
      {"progress", encode(Progress{2, 1000, State::saved}), {0x02, 0, 0, 0, 0xE8, 0x03, 0, 0, 0, 0, 0, 0, 0x01}},
      {"cancel of mine", encode(Cancel{9, false}), {0x09, 0, 0, 0, 0x00}},
      {"cancel of yours", encode(Cancel{9, true}), {0x09, 0, 0, 0, 0x01}},
      {"request", encodeRequest(5), {0x05, 0, 0, 0}},
  };
  for (const auto& row : table) EXPECT_EQ(row.bytes, row.expected) << row.what;
}

TEST(FileMessages, ReadersTakeBackWhatWritersGive) {
  const Offer offer{7, 123456789012, kDigestBytes, "r\xC3\xA9sum\xC3\xA9.pdf"};
  EXPECT_EQ(decodeOffer(encode(offer)), offer);
  const Bytes data(kMaxChunk, 0x5A);
  const Bytes packed = encodeChunk(3, 1u << 30, data);
  const auto chunk = decodeChunk(packed);
  ASSERT_TRUE(chunk);
  EXPECT_EQ(chunk->id, 3u);
  EXPECT_EQ(chunk->offset, 1u << 30);
  EXPECT_EQ(Bytes(chunk->data.begin(), chunk->data.end()), data);
  EXPECT_EQ(decodeProgress(encode(Progress{4, 99, State::failed})), (Progress{4, 99, State::failed}));
  EXPECT_EQ(decodeCancel(encode(Cancel{4, true})), (Cancel{4, true}));
  EXPECT_EQ(decodeRequest(encodeRequest(77)), 77u);
  EXPECT_EQ(decodeReply(Bytes{1, 0, 0, 0, 0x42}), (Reply{1, Answer::other})) << "an unknown code still declines";
}

TEST(FileMessages, ReadersRefuseWhatIsNotTheirs) {
  const Bytes shortName = offerBytes(1);
  const struct {
    const char* what;
    bool read;
  } table[] = {
      {"offer without a name", decodeOffer(offerBytes(0)).has_value()},
      {"offer with a name over 255 bytes", decodeOffer(offerBytes(256)).has_value()},
      {"offer cut inside its digest", decodeOffer(ByteView(shortName).first(30)).has_value()},
      {"empty offer", decodeOffer({}).has_value()},
      {"reply short", decodeReply(Bytes{1, 0, 0, 0}).has_value()},
      {"reply long", decodeReply(Bytes{1, 0, 0, 0, 0, 0}).has_value()},
      {"chunk without data", decodeChunk(Bytes(12, 0)).has_value()},
      {"chunk over one part", decodeChunk(Bytes(12 + kMaxChunk + 1, 0)).has_value()},
      {"progress with an unknown state", decodeProgress(encodeChunk(1, 1, Bytes{3})).has_value()},
      {"progress short", decodeProgress(Bytes(12, 0)).has_value()},
      {"cancel naming neither side", decodeCancel(Bytes{1, 0, 0, 0, 2}).has_value()},
      {"request short", decodeRequest(Bytes{1, 0, 0}).has_value()},
  };
  for (const auto& row : table) EXPECT_FALSE(row.read) << row.what;
  EXPECT_TRUE(decodeOffer(offerBytes(255)));
  EXPECT_TRUE(decodeOffer(offerBytes(1)));
}

}  // namespace
