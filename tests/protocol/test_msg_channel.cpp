// Reliable message channel: wire bytes, ordering, windowing and resends, bad
// packets, and delivery across a link that drops, duplicates and reorders.

#include <gtest/gtest.h>

#include <random>

#include "core/ManualLoop.h"
#include "protocol/wire/MsgChannel.h"
#include "testkit/LossyLink.h"

namespace plimo {
namespace {

Bytes msgPacket(uint32_t seq, uint8_t kind, bool more, ByteView payload) {
  Bytes p{0x88};
  appendLE<uint32_t>(p, seq);
  p.push_back(kind);
  p.push_back(more ? 1 : 0);
  append(p, payload);
  return p;
}

Bytes ackPacket(uint32_t n) {
  Bytes p{0x89};
  appendLE<uint32_t>(p, n);
  return p;
}

uint32_t seqOf(const Bytes& packet) { return readLE32(packet, 1); }

TEST(MsgChannel, PostSplitsLongPayloadsIntoParts) {
  ManualLoop loop;
  MsgChannel ch(loop);
  ch.postBytes(7, Bytes(3000, 0xAB));
  ch.post(1, toBytes("hi"));
  ch.postBytes(3, {});
  const auto packets = ch.poll();
  ASSERT_EQ(packets.size(), 5u);
  const size_t sizes[] = {1150, 1150, 700};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(packets[i].size(), 7 + sizes[i]);
    EXPECT_EQ(seqOf(packets[i]), i + 1);
    EXPECT_EQ(packets[i][5], 7);
    EXPECT_EQ(packets[i][6], i < 2 ? 1 : 0);
  }
  EXPECT_EQ(packets[3], (Bytes{0x88, 4, 0, 0, 0, 1, 0, 'h', 'i'}));
  EXPECT_EQ(packets[4], (Bytes{0x88, 5, 0, 0, 0, 3, 0}));

  // A single part with `more` keeps it; a long one passes it to the last part.
  ch.post(9, toBytes("x"), true);
  ch.post(9, Bytes(1151, 1), true);
  const auto more = ch.poll();
  ASSERT_EQ(more.size(), 3u);
  EXPECT_EQ(more[0][6], 1);
  EXPECT_EQ(more[1][6], 1);
  EXPECT_EQ(more[2][6], 1);
  EXPECT_EQ(more[2].size(), 8u);
}

TEST(MsgChannel, DeliversInOrderAndAcknowledgesDuplicates) {
  ManualLoop loop;
  MsgChannel ch(loop);
  auto d1 = ch.handleMsg(msgPacket(1, 1, false, toBytes("one")));
  ASSERT_EQ(d1.size(), 1u);
  EXPECT_EQ(d1[0], (ChannelMsg{1, false, toBytes("one")}));
  EXPECT_TRUE(ch.handleMsg(msgPacket(3, 1, false, toBytes("three"))).empty());
  const auto d2 = ch.handleMsg(msgPacket(2, 10, true, toBytes("two")));
  ASSERT_EQ(d2.size(), 2u);
  EXPECT_EQ(d2[0], (ChannelMsg{10, true, toBytes("two")}));
  EXPECT_EQ(d2[1].data, toBytes("three"));
  EXPECT_EQ(ch.poll(), (std::vector<Bytes>{ackPacket(3)}));
  EXPECT_TRUE(ch.poll().empty());

  // A repeat is not delivered again but repairs a lost acknowledgement.
  EXPECT_TRUE(ch.handleMsg(msgPacket(1, 1, false, toBytes("one"))).empty());
  EXPECT_EQ(ch.poll(), (std::vector<Bytes>{ackPacket(3)}));
}

TEST(MsgChannel, WindowAndResendSchedule) {
  ManualLoop loop;
  MsgChannel ch(loop);
  for (int i = 0; i < 100; ++i) ch.post(1, Bytes{uint8_t(i)});
  auto first = ch.poll();
  ASSERT_EQ(first.size(), 64u);
  EXPECT_EQ(seqOf(first.front()), 1u);
  EXPECT_EQ(seqOf(first.back()), 64u);

  loop.advance(0.29);
  EXPECT_TRUE(ch.poll().empty());
  ch.handleAck(ackPacket(10));
  // Messages 65 to 74 slid into the window and go at once; the others wait
  // for their resend time.
  auto slid = ch.poll();
  ASSERT_EQ(slid.size(), 10u);
  EXPECT_EQ(seqOf(slid.front()), 65u);
  EXPECT_EQ(seqOf(slid.back()), 74u);
  loop.advance(0.02);
  auto resent = ch.poll();
  ASSERT_EQ(resent.size(), 54u);
  EXPECT_EQ(seqOf(resent.front()), 11u);

  ch.handleAck(ackPacket(0));
  EXPECT_EQ(ch.out().size(), 90u);
  ch.handleAck(ackPacket(5000));
  EXPECT_TRUE(ch.out().empty());
  loop.advance(1);
  EXPECT_TRUE(ch.poll().empty());
}

// A fast link's loss costs a round trip or two, not the longest wait: the
// wait follows the measured round trip, and a repeated acknowledgement
// sends the missing message at once, once per round trip.
TEST(MsgChannel, ResendFollowsTheRoundTripAndRepeatedAcknowledgements) {
  ManualLoop loop;
  MsgChannel ch(loop);
  for (int i = 0; i < 4; ++i) ch.post(1, Bytes{uint8_t(i)});
  ASSERT_EQ(ch.poll().size(), 4u);
  loop.advance(0.01);
  ch.handleAck(ackPacket(1));
  EXPECT_DOUBLE_EQ(ch.resendTime(), MsgChannel::kMinResend) << "10 ms round trip, floored";

  // Message 2 was lost; 3 and 4 arrived, so the partner repeats 1.
  ch.handleAck(ackPacket(1));
  auto resent = ch.poll();
  ASSERT_EQ(resent.size(), 1u);
  EXPECT_EQ(seqOf(resent[0]), 2u);
  loop.advance(0.005);
  ch.handleAck(ackPacket(1));
  EXPECT_TRUE(ch.poll().empty()) << "the resend is still on its way";

  // The resend was lost too: the measured wait brings it back, well before 0.3 s.
  loop.advance(MsgChannel::kMinResend);
  resent = ch.poll();
  ASSERT_EQ(resent.size(), 3u);
  EXPECT_EQ(seqOf(resent[0]), 2u);

  // An acknowledgement of a message sent twice times nothing.
  ch.handleAck(ackPacket(4));
  EXPECT_DOUBLE_EQ(ch.resendTime(), MsgChannel::kMinResend);
  // An older acknowledgement overtaken by a newer one changes nothing.
  ch.post(1, Bytes{9});
  ASSERT_EQ(ch.poll().size(), 1u);
  loop.advance(0.01);
  ch.handleAck(ackPacket(2));
  EXPECT_TRUE(ch.poll().empty());
  EXPECT_EQ(ch.out().size(), 1u);
}

// Throughput over a link losing 3 %: the window keeps moving.
TEST(MsgChannel, ThreePercentLossKeepsTheWindowMoving) {
  ManualLoop loop;
  testkit::LossyLink link(loop, {.drop = 0.03, .duplicate = 0.01, .reorder = 0.02, .delay = 0.005, .seed = 3});
  MsgChannel a(loop), b(loop);
  using End = testkit::LossyLink::End;
  size_t got = 0;
  link.setReceiver(End::a, [&](ByteView p) { a.handleAck(p); });
  link.setReceiver(End::b, [&](ByteView p) { got += b.handleMsg(p).size(); });
  Timer tick = loop.every(0.01, [&] {
    link.send(End::a, a.poll());
    link.send(End::b, b.poll());
  });
  const size_t count = 10000;
  for (size_t i = 0; i < count; ++i) a.post(1, Bytes(8, 1));
  const double start = loop.now();
  ASSERT_TRUE(loop.runUntil([&] { return got == count; }, 60.0, 0.001));
  // 157 windows of 64; at the fixed 0.3 s wait nearly every one stalls (47 s).
  EXPECT_LT(loop.now() - start, 20.0);
}

TEST(MsgChannel, EarlyBufferIsBounded) {
  ManualLoop loop;
  MsgChannel ch(loop);
  for (uint32_t s = 2; s <= 257; ++s) ch.handleMsg(msgPacket(s, 1, false, {}));
  EXPECT_EQ(ch.earlyCount(), 256u);
  // No room: dropped, delivered later from a resend.
  EXPECT_TRUE(ch.handleMsg(msgPacket(258, 1, false, toBytes("late"))).empty());
  EXPECT_TRUE(ch.handleMsg(msgPacket(259, 1, false, toBytes("late"))).empty());
  EXPECT_EQ(ch.earlyCount(), 256u);
  EXPECT_EQ(ch.handleMsg(msgPacket(1, 1, false, {})).size(), 257u);
  const auto late = ch.handleMsg(msgPacket(258, 1, false, toBytes("late")));
  ASSERT_EQ(late.size(), 1u);
  EXPECT_EQ(late[0].data, toBytes("late"));
  EXPECT_EQ(ch.delivered(), 258u);
}

TEST(MsgChannel, MalformedPacketsChangeNothingAndGetNoReply) {
  ManualLoop loop;
  MsgChannel ch(loop);
  ch.handleMsg(msgPacket(1, 1, false, {}));
  ch.poll();
  const std::vector<Bytes> bad = {
      {},
      {0x88},
      Bytes{0x88, 2, 0, 0, 0, 1},                   // one byte short of a header
      msgPacket(2, 1, false, Bytes(1151, 0)),       // part longer than allowed
      msgPacket(0, 1, false, {}),                   // sequence 0 is never sent
      msgPacket(2 + 257, 1, false, {}),             // beyond any sender's window
      msgPacket(0xFFFFFFFF, 1, false, {}),
      [] { Bytes p = msgPacket(2, 1, false, {}); p[0] = 0x89; return p; }(),
  };
  for (const Bytes& p : bad) {
    EXPECT_TRUE(ch.handleMsg(p).empty());
    EXPECT_EQ(ch.delivered(), 1u);
    EXPECT_EQ(ch.earlyCount(), 0u);
    EXPECT_TRUE(ch.poll().empty()) << "replied to a packet of " << p.size() << " bytes";
  }
  ch.post(1, toBytes("a"));
  for (const Bytes& p : std::vector<Bytes>{{0x89, 1, 0, 0}, {0x88, 1, 0, 0, 0}}) {
    ch.handleAck(p);
    EXPECT_EQ(ch.out().size(), 1u);
  }
}

// Two channels talking both ways over a bad link: every message arrives
// exactly once, in order, long ones as consecutive parts.
TEST(MsgChannel, ExactlyOnceInOrderOverLossyLink) {
  ManualLoop loop;
  testkit::LossyLink link(loop, {.drop = 0.2, .duplicate = 0.1, .reorder = 0.3, .seed = 42});
  MsgChannel a(loop), b(loop);
  using End = testkit::LossyLink::End;
  std::vector<ChannelMsg> atA, atB;
  auto wire = [](MsgChannel& ch, std::vector<ChannelMsg>& got) {
    return [&ch, &got](ByteView p) {
      if (p[0] == 0x88) {
        for (auto& m : ch.handleMsg(p)) got.push_back(std::move(m));
      } else {
        ch.handleAck(p);
      }
    };
  };
  link.setReceiver(End::a, wire(a, atA));
  link.setReceiver(End::b, wire(b, atB));
  Timer tick = loop.every(0.01, [&] {
    link.send(End::a, a.poll());
    link.send(End::b, b.poll());
  });

  std::mt19937 rng(5);
  std::vector<ChannelMsg> sentByA, sentByB;
  auto postRandom = [&](MsgChannel& ch, std::vector<ChannelMsg>& log, int i) {
    const size_t size = (i % 7 == 0) ? rng() % 5000 : rng() % 200;
    Bytes payload(size);
    for (auto& byte : payload) byte = uint8_t(rng());
    const uint8_t kind = uint8_t(1 + i % 19);
    ch.postBytes(kind, payload);
    size_t off = 0;
    do {
      const size_t part = std::min<size_t>(1150, size - off);
      log.push_back(ChannelMsg{kind, off + part < size, bytes(payload, off, part)});
      off += part;
    } while (off < size);
  };
  for (int i = 0; i < 300; ++i) {
    postRandom(a, sentByA, i);
    if (i % 2) postRandom(b, sentByB, i);
    loop.advance(0.003);
  }
  ASSERT_TRUE(loop.runUntil([&] { return a.out().empty() && b.out().empty(); }, 60.0, 0.005));
  EXPECT_EQ(atB, sentByA);
  EXPECT_EQ(atA, sentByB);
  EXPECT_GT(link.stats(End::a).dropped, 0u);
  EXPECT_GT(link.stats(End::a).duplicated, 0u);
  EXPECT_GT(sentByA.size(), 300u);  // long ones went in parts
}

}  // namespace
}  // namespace plimo
