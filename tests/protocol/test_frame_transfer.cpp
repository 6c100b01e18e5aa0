// Frame transfer, packet by packet: chunk layout, the sender's queue, probes
// and negative acknowledgements, both receivers' ordering and replies, and
// malformed packets that must leave no trace.

#include <gtest/gtest.h>

#include "core/ManualLoop.h"
#include "protocol/wire/FrameReceiver.h"
#include "protocol/wire/FrameWindowReceiver.h"
#include "protocol/wire/FrameWindowSender.h"

namespace plimo {
namespace {

Bytes chunk(uint32_t id, uint16_t index, uint16_t count, ByteView payload, uint32_t oldest = 1) {
  Bytes p{0x8B};
  appendLE<uint32_t>(p, id);
  appendLE<uint16_t>(p, index);
  appendLE<uint16_t>(p, count);
  appendLE<uint32_t>(p, oldest);
  append(p, payload);
  return p;
}

Bytes legacyChunk(uint32_t id, uint16_t index, uint16_t count, ByteView payload) {
  Bytes p{0x81};
  appendLE<uint32_t>(p, id);
  appendLE<uint16_t>(p, index);
  appendLE<uint16_t>(p, count);
  append(p, payload);
  return p;
}

Bytes ack(uint32_t id) {
  Bytes p{0x82};
  appendLE<uint32_t>(p, id);
  return p;
}

Bytes nack(uint32_t id, std::vector<uint16_t> indices, std::optional<uint16_t> claimed = {}) {
  Bytes p{0x83};
  appendLE<uint32_t>(p, id);
  appendLE<uint16_t>(p, claimed.value_or(uint16_t(indices.size())));
  for (uint16_t i : indices) appendLE<uint16_t>(p, i);
  return p;
}

const Bytes full(1200, 0x11);

std::vector<uint16_t> queueOf(const FrameWindowSender& s, size_t frame) {
  return {s.frames()[frame].queue.begin(), s.frames()[frame].queue.end()};
}

TEST(FrameWindowSender, CutsFramesIntoChunks) {
  ManualLoop loop;
  FrameWindowSender s(loop);
  Bytes frame(2500);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t(i * 7);
  EXPECT_EQ(s.start(frame), 1u);
  auto legacy = s.nextPackets(40);
  ASSERT_EQ(legacy.size(), 3u);
  EXPECT_EQ(legacy[2], legacyChunk(1, 2, 3, ByteView(frame).subspan(2400)));
  EXPECT_EQ(legacy[0].size(), 9u + 1200);

  s.setLegacy(false);
  s.clear();
  EXPECT_EQ(s.start(frame), 2u);
  EXPECT_EQ(s.start({}), 3u);
  auto windowed = s.nextPackets(40);
  ASSERT_EQ(windowed.size(), 4u);
  EXPECT_EQ(windowed[0], chunk(2, 0, 3, ByteView(frame).first(1200), 2));
  EXPECT_EQ(windowed[1].size(), 13u + 1200);
  EXPECT_EQ(windowed[2].size(), 13u + 100);
  EXPECT_EQ(windowed[3], chunk(3, 0, 1, {}, 2));  // an empty frame is one empty chunk

  // The oldest field is written at each sending: after frame 2 is released,
  // the probe of frame 3 says 3.
  EXPECT_TRUE(s.handleAck(ack(2)));
  EXPECT_FALSE(s.handleAck(ack(2)));
  loop.advance(0.15);
  EXPECT_EQ(s.nextPackets(40), (std::vector<Bytes>{chunk(3, 0, 1, {}, 3)}));

  EXPECT_FALSE(s.start(Bytes(65535 * 1200 + 1, 0)).has_value());
  EXPECT_EQ(s.frames().size(), 1u);
  EXPECT_EQ(s.start({}), 4u);
}

TEST(FrameWindowSender, BudgetProbesAndRoom) {
  ManualLoop loop;
  FrameWindowSender s(loop);
  s.setLegacy(false);
  s.setMaxInFlight(2);
  s.start(Bytes(1200 * 30, 1));
  EXPECT_TRUE(s.hasRoom());
  s.start(Bytes(1200 * 30, 2));
  EXPECT_FALSE(s.hasRoom());
  EXPECT_EQ(s.nextPackets(40).size(), 40u);  // all of frame 1, the first 10 of frame 2
  EXPECT_EQ(queueOf(s, 1).size(), 20u);
  EXPECT_EQ(s.nextPackets(40).size(), 20u);

  // Everything sent, nothing answered: each frame's last chunk once per 0.15 s.
  EXPECT_TRUE(s.nextPackets(40).empty());
  loop.advance(0.1);
  EXPECT_TRUE(s.nextPackets(40).empty());
  loop.advance(0.05);
  auto probes = s.nextPackets(40);
  ASSERT_EQ(probes.size(), 2u);
  EXPECT_EQ(readLE16(probes[0], 5), 29);
  EXPECT_EQ(readLE32(probes[1], 1), 2u);
  loop.advance(0.1);
  EXPECT_TRUE(s.nextPackets(40).empty());
  loop.advance(0.05);
  EXPECT_EQ(s.nextPackets(40).size(), 2u);
}

TEST(FrameWindowSender, NackRequeuesExactlyTheListedChunks) {
  ManualLoop loop;
  FrameWindowSender s(loop);
  s.setLegacy(false);
  s.start(Bytes(1200 * 5, 1));
  s.nextPackets(40);
  s.handleNack(nack(1, {1, 3, 7, 3}));  // 7 is past the count, 3 repeated
  EXPECT_EQ(queueOf(s, 0), (std::vector<uint16_t>{1, 3}));
  auto again = s.nextPackets(40);
  ASSERT_EQ(again.size(), 2u);
  EXPECT_EQ(readLE16(again[0], 5), 1);
  EXPECT_EQ(readLE16(again[1], 5), 3);
  s.handleNack(nack(1, {}));
  EXPECT_TRUE(queueOf(s, 0).empty());
  s.handleNack(nack(2, {0}));  // not held
  EXPECT_TRUE(queueOf(s, 0).empty());
}

TEST(FrameWindowSender, FullNackKeepsChunksNotYetSent) {
  ManualLoop loop;
  FrameWindowSender s(loop);
  s.setLegacy(false);
  s.start(Bytes(1200 * 1000, 1));
  s.nextPackets(40);  // 0..39 sent, 40..999 waiting
  // A viewer that got chunk 0 only lists 1..500: it knows nothing about the
  // rest, which must not lose their place in the queue.
  std::vector<uint16_t> missing;
  for (uint16_t i = 1; i <= 500; ++i) missing.push_back(i);
  s.handleNack(nack(1, missing));
  const auto q = queueOf(s, 0);
  ASSERT_EQ(q.size(), 999u);
  EXPECT_EQ(q.front(), 1);
  EXPECT_EQ(q[499], 500);
  EXPECT_EQ(q[500], 501);
  EXPECT_EQ(q.back(), 999);
}

TEST(FrameWindowSender, MalformedAcksAndNacksChangeNothing) {
  ManualLoop loop;
  FrameWindowSender s(loop);
  s.setLegacy(false);
  s.start(Bytes(1200 * 8, 1));
  s.nextPackets(3);
  const auto before = queueOf(s, 0);
  std::vector<uint16_t> many(65535, 0);
  const std::vector<Bytes> bad = {
      {0x83, 1, 0, 0, 0, 1},                 // short of its count
      nack(1, {0, 1}, 3),                    // count says 3, two present
      nack(1, std::vector<uint16_t>(501, 0)),  // more than a viewer may list
      nack(1, many),                         // 65,535 indices
      nack(1, {}, 65535),
      [] { Bytes p = nack(1, {0}); p[0] = 0x82; return p; }(),
  };
  for (const Bytes& p : bad) {
    s.handleNack(p);
    EXPECT_EQ(queueOf(s, 0), before);
  }
  EXPECT_FALSE(s.handleAck(Bytes{0x82, 1, 0, 0}));
  EXPECT_FALSE(s.handleAck(Bytes{0x83, 1, 0, 0, 0}));
  EXPECT_EQ(s.frames().size(), 1u);
}

TEST(FrameWindowReceiver, DeliversInIdOrder) {
  ManualLoop loop;
  FrameWindowReceiver r(loop);
  EXPECT_FALSE(r.handleChunk(chunk(5, 0, 2, full, 5)).reply);
  // Frame 6 completes first and is held.
  auto six = r.handleChunk(chunk(6, 0, 1, toBytes("six"), 5));
  EXPECT_EQ(six.reply, ack(6));
  EXPECT_TRUE(six.blobs.empty());
  auto five = r.handleChunk(chunk(5, 1, 2, toBytes("end"), 5));
  EXPECT_EQ(five.reply, ack(5));
  ASSERT_EQ(five.blobs.size(), 2u);
  Bytes expected = full;
  append(expected, toBytes("end"));
  EXPECT_EQ(five.blobs[0], expected);
  EXPECT_EQ(five.blobs[1], toBytes("six"));
  EXPECT_EQ(r.next(), 7u);
  EXPECT_TRUE(r.frames().empty());

  // A chunk of a delivered frame repairs a lost acknowledgement.
  auto old = r.handleChunk(chunk(5, 0, 2, full, 5));
  EXPECT_EQ(old.reply, ack(5));
  EXPECT_TRUE(old.blobs.empty());
}

TEST(FrameWindowReceiver, SkipsFramesTheSenderGaveUp) {
  ManualLoop loop;
  FrameWindowReceiver r(loop);
  r.handleChunk(chunk(7, 0, 2, full, 7));
  r.handleChunk(chunk(8, 0, 1, toBytes("8"), 7));
  EXPECT_EQ(r.frames().size(), 2u);
  auto nine = r.handleChunk(chunk(9, 0, 1, toBytes("9"), 9));
  EXPECT_EQ(r.next(), 10u);
  ASSERT_EQ(nine.blobs.size(), 1u);
  EXPECT_EQ(nine.blobs[0], toBytes("9"));
  EXPECT_TRUE(r.frames().empty());

  // Frame 11 complete but held behind 10; the sender gives 10 up, and the
  // repeat of 11's chunk that says so delivers 11 at once.
  r.handleChunk(chunk(10, 0, 2, full, 10));
  EXPECT_EQ(r.handleChunk(chunk(11, 0, 1, toBytes("11"), 10)).reply, ack(11));
  auto skip = r.handleChunk(chunk(11, 0, 1, toBytes("11"), 11));
  EXPECT_EQ(skip.reply, ack(11));
  ASSERT_EQ(skip.blobs.size(), 1u);
  EXPECT_EQ(skip.blobs[0], toBytes("11"));
  EXPECT_EQ(r.next(), 12u);
}

TEST(FrameWindowReceiver, NacksOnLastIndexDuplicateAndStall) {
  ManualLoop loop;
  FrameWindowReceiver r(loop);
  EXPECT_FALSE(r.handleChunk(chunk(1, 0, 4, full)).reply);
  EXPECT_FALSE(r.handleChunk(chunk(1, 2, 4, full)).reply);
  EXPECT_EQ(r.handleChunk(chunk(1, 2, 4, full)).reply, nack(1, {1, 3}));
  EXPECT_EQ(r.handleChunk(chunk(1, 3, 4, toBytes("x"))).reply, nack(1, {1}));

  // Stall recovery waits until both the chunks and the last nack are quiet.
  loop.advance(0.019);
  EXPECT_TRUE(r.pendingNacks(0.02).empty());
  loop.advance(0.002);
  EXPECT_EQ(r.pendingNacks(0.02), (std::vector<Bytes>{nack(1, {1})}));
  EXPECT_TRUE(r.pendingNacks(0.02).empty());
  r.handleChunk(chunk(3, 0, 2, full));
  loop.advance(0.03);
  EXPECT_EQ(r.pendingNacks(0.02), (std::vector<Bytes>{nack(1, {1}), nack(3, {1})}));

  // A nack lists at most the first 500 missing chunks.
  r.handleChunk(chunk(2, 0, 2000, full));
  const Bytes big = r.handleChunk(chunk(2, 0, 2000, full)).reply.value();
  EXPECT_EQ(big.size(), 7u + 2 * 500);
  EXPECT_EQ(readLE16(big, 5), 500);
  EXPECT_EQ(readLE16(big, 7), 1);
}

TEST(FrameWindowReceiver, MalformedChunksLeaveNoTrace) {
  ManualLoop loop;
  FrameWindowReceiver r(loop);
  r.handleChunk(chunk(3, 0, 3, full, 3));
  const std::vector<Bytes> bad = {
      Bytes(12, 0x8B),
      chunk(3, 1, 0, full, 3),             // count 0
      chunk(3, 3, 3, full, 3),             // index beyond the count
      chunk(3, 1, 3, Bytes(1199, 0), 3),   // a middle chunk that is short
      chunk(3, 2, 3, Bytes(1201, 0), 3),   // a last chunk that is too long
      chunk(3, 2, 3, {}, 3),               // an empty last chunk of a longer frame
      chunk(3, 1, 4, full, 3),             // count differs from the stored one
      chunk(3 + 65, 0, 1, {}, 3),          // too far ahead
      chunk(0xFFFFFFF0u, 0, 1, {}, 3),
      chunk(300, 0, 1, {}, 140),           // skips ahead, yet still too far past its oldest
      chunk(4, 0, 1, {}, 5),               // older than the sender's oldest
      chunk(0, 0, 1, {}, 0),
      [] { Bytes p = chunk(4, 0, 1, {}, 3); p[0] = 0x81; return p; }(),
  };
  for (const Bytes& p : bad) {
    const auto result = r.handleChunk(p);
    EXPECT_FALSE(result.reply) << "replied to a bad chunk of " << p.size() << " bytes";
    EXPECT_TRUE(result.blobs.empty());
    EXPECT_EQ(r.next(), 3u);
    ASSERT_EQ(r.frames().size(), 1u);
    EXPECT_EQ(r.frames().begin()->second.have, 1u);
  }
}

TEST(FrameWindowReceiver, HoldsLimitedPayloadAheadOfTheNextFrame) {
  ManualLoop loop;
  const size_t limit = 100 * 1200;
  FrameWindowReceiver r(loop, limit);
  // Frames that are never finished cannot take more than the limit; the
  // frame being waited for still can.
  for (uint32_t id = 2; id < 6; ++id) {
    for (uint16_t i = 0; i < 60; ++i) r.handleChunk(chunk(id, i, 65000, full, 1));
  }
  size_t held = 0;
  for (const auto& [id, f] : r.frames()) held += f.bytes;
  EXPECT_EQ(held, limit);
  for (uint16_t i = 0; i < 200; ++i) r.handleChunk(chunk(1, i, 201, full, 1));
  EXPECT_EQ(r.frames().at(1).have, 200u);
  EXPECT_EQ(r.handleChunk(chunk(1, 200, 201, toBytes("end"), 1)).blobs.size(), 1u);
  EXPECT_EQ(r.next(), 2u);
}

TEST(FrameReceiver, OneFrameAtATime) {
  ManualLoop loop;
  FrameReceiver r(loop);
  EXPECT_FALSE(r.handleChunk(legacyChunk(11, 0, 3, full)).reply);
  EXPECT_EQ(r.handleChunk(legacyChunk(11, 0, 3, full)).reply, nack(11, {1, 2}));
  // A chunk of frame 12 drops the half-assembled frame 11.
  EXPECT_FALSE(r.handleChunk(legacyChunk(12, 0, 2, full)).reply);
  EXPECT_EQ(r.frameID(), 12u);
  EXPECT_FALSE(r.handleChunk(legacyChunk(11, 1, 3, full)).reply);
  auto done = r.handleChunk(legacyChunk(12, 1, 2, toBytes("tail")));
  EXPECT_EQ(done.reply, ack(12));
  ASSERT_TRUE(done.blob);
  EXPECT_EQ(done.blob->size(), 1204u);
  EXPECT_EQ(r.doneID(), 12u);
  EXPECT_EQ(r.handleChunk(legacyChunk(12, 0, 2, full)).reply, ack(12));
  EXPECT_FALSE(r.handleChunk(legacyChunk(12, 0, 2, full)).blob);
  EXPECT_FALSE(r.pendingNack());

  // A far higher ID is a switch back from the windowed transfer: accepted.
  auto jump = r.handleChunk(legacyChunk(5000, 0, 1, toBytes("x")));
  EXPECT_EQ(jump.blob, toBytes("x"));
}

TEST(FrameReceiver, PendingAndQuickNacks) {
  ManualLoop loop;
  FrameReceiver r(loop);
  EXPECT_FALSE(r.pendingNack());
  r.handleChunk(legacyChunk(1, 1, 3, full));
  EXPECT_FALSE(r.quickNack());  // chunks still coming
  loop.advance(0.021);
  EXPECT_EQ(r.quickNack(), nack(1, {0, 2}));
  loop.advance(0.021);
  EXPECT_FALSE(r.quickNack());  // the last one is too recent
  loop.advance(0.02);
  EXPECT_EQ(r.quickNack(), nack(1, {0, 2}));
  EXPECT_EQ(r.pendingNack(), nack(1, {0, 2}));
}

TEST(FrameReceiver, MalformedChunksLeaveNoTrace) {
  ManualLoop loop;
  FrameReceiver r(loop);
  r.handleChunk(legacyChunk(3, 0, 3, full));
  const std::vector<Bytes> bad = {
      Bytes(8, 0x81),
      legacyChunk(4, 0, 0, {}),          // count 0 must not discard frame 3
      legacyChunk(4, 5, 5, full),        // index beyond the count
      legacyChunk(4, 0, 2, toBytes("short")),
      legacyChunk(3, 1, 4, full),        // count differs
      legacyChunk(0, 0, 1, {}),
      [] { Bytes p = legacyChunk(4, 0, 1, {}); p[0] = 0x8B; return p; }(),
  };
  for (const Bytes& p : bad) {
    const auto result = r.handleChunk(p);
    EXPECT_FALSE(result.reply);
    EXPECT_FALSE(result.blob);
    EXPECT_EQ(r.frameID(), 3u);
    ASSERT_TRUE(r.current());
    EXPECT_EQ(r.current()->have, 1u);
  }
}

}  // namespace
}  // namespace plimo
