// The 2-byte TCP framer both ends of a TCP link to the server use: frames cut
// anywhere, bad lengths, and streams that never finish a frame.
#include <gtest/gtest.h>

#include <random>

#include "protocol/wire/StreamFramer.h"

using namespace plimo;

namespace {

std::vector<Bytes> feedAll(StreamFramer& framer, ByteView data, bool* ok = nullptr) {
  std::vector<Bytes> packets;
  bool good = framer.feed(data, [&](ByteView p) { packets.emplace_back(p.begin(), p.end()); });
  if (ok) *ok = good;
  return packets;
}

}  // namespace

TEST(StreamFramer, FramesSplitAnywhereComeOutWholeAndInOrder) {
  Bytes stream;
  append(stream, StreamFramer::frame(Bytes{1, 2, 3}));
  append(stream, StreamFramer::frame(Bytes(300, 7)));
  append(stream, StreamFramer::frame(Bytes(65535, 9)));
  for (size_t cut : {size_t(1), size_t(2), size_t(4), size_t(5), size_t(304), stream.size() - 1}) {
    StreamFramer framer;
    auto first = feedAll(framer, ByteView(stream).first(cut));
    auto rest = feedAll(framer, ByteView(stream).subspan(cut));
    first.insert(first.end(), rest.begin(), rest.end());
    ASSERT_EQ(first.size(), 3u) << cut;
    EXPECT_EQ(first[0], (Bytes{1, 2, 3}));
    EXPECT_EQ(first[1], Bytes(300, 7));
    EXPECT_EQ(first[2], Bytes(65535, 9));
    EXPECT_EQ(framer.buffered(), 0u);
  }
  // Byte by byte.
  StreamFramer framer;
  size_t count = 0;
  for (uint8_t b : stream) count += feedAll(framer, ByteView(&b, 1)).size();
  EXPECT_EQ(count, 3u);
}

TEST(StreamFramer, ZeroLengthEndsTheStreamAndOversizedPacketsAreNotFramed) {
  StreamFramer framer;
  Bytes stream = StreamFramer::frame(Bytes{5});
  append(stream, Bytes{0, 0});
  append(stream, StreamFramer::frame(Bytes{6}));
  bool ok = true;
  auto packets = feedAll(framer, stream, &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(packets.size(), 1u);

  // Also when the bad header arrives after buffered bytes.
  StreamFramer split;
  feedAll(split, Bytes{0});
  feedAll(split, Bytes{1, 9, 0}, &ok);
  EXPECT_TRUE(ok);
  feedAll(split, Bytes{0}, &ok);
  EXPECT_FALSE(ok);

  EXPECT_TRUE(StreamFramer::frame(Bytes{}).empty());
  EXPECT_TRUE(StreamFramer::frame(Bytes(65536, 1)).empty());
  EXPECT_EQ(StreamFramer::frame(Bytes(65535, 1)).size(), 65537u);
  EXPECT_EQ(StreamFramer::frame(Bytes(258, 1))[0], 1);
  EXPECT_EQ(StreamFramer::frame(Bytes(258, 1))[1], 2);
}

// A header that announces more than ever comes holds only what arrived, and
// random bytes never grow the buffer past one frame nor yield an empty or
// oversized packet.
TEST(StreamFramer, UnfinishedAndGarbageStreamsStayBounded) {
  StreamFramer waiting;
  bool ok = true;
  EXPECT_TRUE(feedAll(waiting, Bytes{0xFF, 0xFF}, &ok).empty());
  EXPECT_TRUE(feedAll(waiting, Bytes(65534, 1), &ok).empty());
  EXPECT_TRUE(ok);
  EXPECT_EQ(waiting.buffered(), 65536u);
  Bytes whole(65534, 1);
  whole.push_back(2);
  EXPECT_EQ(feedAll(waiting, Bytes{2, 0, 1}, &ok), std::vector<Bytes>{whole});
  EXPECT_EQ(waiting.buffered(), 2u);  // the next header, waiting for its byte

  std::mt19937 random(5);
  for (int round = 0; round < 50; ++round) {
    StreamFramer framer;
    bool good = true;
    for (int chunks = 0; chunks < 40 && good; ++chunks) {
      Bytes chunk(random() % 3000);
      for (auto& b : chunk) b = uint8_t(random());
      for (auto& p : feedAll(framer, chunk, &good)) {
        EXPECT_FALSE(p.empty());
        EXPECT_LE(p.size(), StreamFramer::kMaxPacket);
      }
      EXPECT_LE(framer.buffered(), 65537u);
    }
  }
}
