// Input events: wire layout, the sender's backlog, the receiver's exactly-once
// rule, control switched off, bad packets, and a lossy link.

#include <gtest/gtest.h>

#include "core/ManualLoop.h"
#include "protocol/wire/InputReceiver.h"
#include "protocol/wire/InputSender.h"
#include "testkit/LossyLink.h"

namespace plimo {
namespace {

Bytes inputPacket(const std::vector<InputEvent>& events) {
  Bytes p{0x84, uint8_t(events.size())};
  for (const auto& e : events) e.appendTo(p);
  return p;
}

Bytes inputAck(uint32_t n) {
  Bytes p{0x85};
  appendLE<uint32_t>(p, n);
  return p;
}

InputEvent ev(uint32_t seq) { return InputEvent{seq, InputEvent::move, int16_t(seq), -1, 0}; }

TEST(InputSender, WireLayoutBacklogAndAcks) {
  InputSender s;
  EXPECT_FALSE(s.packet());
  s.add(InputEvent::buttonDown, -40000, 40000, 1);
  EXPECT_EQ(s.packet(), (Bytes{0x84, 1, 1, 0, 0, 0, 2, 0x00, 0x80, 0xFF, 0x7F, 1, 0, 0, 0}));
  s.add(InputEvent::keyDown, 3, 4, -2);
  const Bytes two = s.packet().value();
  EXPECT_EQ(two.size(), 2u + 26);
  EXPECT_EQ(InputEvent::read(two, 15), (InputEvent{2, InputEvent::keyDown, 3, 4, -2}));

  for (int i = 0; i < 98; ++i) s.add(InputEvent::move, i, i, 0);
  const Bytes first = s.packet().value();
  EXPECT_EQ(first.size(), 1172u);
  EXPECT_EQ(first[1], 90);
  EXPECT_EQ(readLE32(first, 2 + 89 * 13), 90u);
  s.handleAck(inputAck(0));
  EXPECT_EQ(s.pending().size(), 100u);
  s.handleAck(Bytes{0x85, 90, 0, 0});  // short: ignored
  EXPECT_EQ(s.pending().size(), 100u);
  s.handleAck(inputAck(90));
  const Bytes rest = s.packet().value();
  EXPECT_EQ(rest[1], 10);
  EXPECT_EQ(readLE32(rest, 2), 91u);
  s.handleAck(inputAck(100));
  EXPECT_FALSE(s.packet());
}

TEST(InputReceiver, AppliesEachEventOnceInOrder) {
  InputReceiver r;
  std::vector<uint32_t> applied;
  auto apply = [&](const InputEvent& e) { applied.push_back(e.seq); };
  EXPECT_EQ(r.handle(inputPacket({ev(1), ev(2), ev(3), ev(4)}), true, apply), inputAck(4));
  applied.clear();
  const Bytes p567 = inputPacket({ev(5), ev(6), ev(7)});
  EXPECT_EQ(r.handle(p567, true, apply), inputAck(7));
  EXPECT_EQ(applied, (std::vector<uint32_t>{5, 6, 7}));
  EXPECT_EQ(r.handle(p567, true, apply), inputAck(7));
  EXPECT_EQ(applied.size(), 3u);
  // After a gap nothing is taken; the sender repeats from its oldest.
  EXPECT_EQ(r.handle(inputPacket({ev(9), ev(10)}), true, apply), inputAck(7));
  EXPECT_EQ(applied.size(), 3u);

  // With control off events are counted and acknowledged, not applied, and
  // not replayed when control comes back.
  EXPECT_EQ(r.handle(inputPacket({ev(8), ev(9)}), false, apply), inputAck(9));
  EXPECT_EQ(r.handle(inputPacket({ev(8), ev(9), ev(10)}), true, apply), inputAck(10));
  EXPECT_EQ(applied, (std::vector<uint32_t>{5, 6, 7, 10}));
}

TEST(InputReceiver, MalformedPacketsGetNoReplyAndChangeNothing) {
  InputReceiver r;
  int calls = 0;
  auto apply = [&](const InputEvent&) { ++calls; };
  r.handle(inputPacket({ev(1)}), true, apply);
  Bytes lying = inputPacket({ev(2), ev(3), ev(4)});
  lying.resize(30);  // n = 3 needs 41 bytes
  std::vector<InputEvent> ninetyOne;
  for (uint32_t i = 2; i < 93; ++i) ninetyOne.push_back(ev(i));
  const std::vector<Bytes> bad = {
      {}, {0x84}, Bytes{0x84, 0}, lying, inputPacket(ninetyOne),
      [] { Bytes p = inputPacket({ev(2)}); p[0] = 0x85; return p; }(),
  };
  for (const Bytes& p : bad) {
    EXPECT_FALSE(r.handle(p, true, apply)) << "replied to " << p.size() << " bytes";
    EXPECT_EQ(r.applied(), 1u);
  }
  EXPECT_EQ(calls, 1);
}

// Viewer and host over a bad link, the viewer sending at once on each event
// and every 0.1 s, as the sessions do: exactly once, in order; while control
// is off events are used up without being applied.
TEST(InputLink, ExactlyOnceInOrderAndNothingWhileControlIsOff) {
  ManualLoop loop;
  using End = testkit::LossyLink::End;  // a = viewer, b = host
  testkit::LossyLink link(loop, {.drop = 0.25, .duplicate = 0.15, .reorder = 0.3, .seed = 11});
  InputSender sender;
  InputReceiver receiver;
  bool allowed = false;
  std::vector<InputEvent> applied;
  link.setReceiver(End::b, [&](ByteView p) {
    if (auto reply = receiver.handle(p, allowed, [&](const InputEvent& e) { applied.push_back(e); })) {
      link.send(End::b, *reply);
    }
  });
  link.setReceiver(End::a, [&](ByteView p) { sender.handleAck(p); });
  Timer tick = loop.every(0.1, [&] {
    if (auto p = sender.packet()) link.send(End::a, *p);
  });
  std::vector<InputEvent> produced;
  auto produce = [&](int count) {
    for (int i = 0; i < count; ++i) {
      const InputEvent& e = sender.add(uint8_t(1 + i % 6), i * 3, -i, i * 40);
      produced.push_back(e);
      link.send(End::a, sender.packet().value());
      loop.advance(0.004);
    }
    ASSERT_TRUE(loop.runUntil([&] { return sender.pending().empty(); }, 30.0, 0.005));
  };

  produce(150);
  EXPECT_TRUE(applied.empty());
  EXPECT_EQ(receiver.applied(), 150u);
  allowed = true;
  produce(400);  // more than one packet's worth piles up at times
  ASSERT_EQ(applied.size(), 400u);
  for (size_t i = 0; i < applied.size(); ++i) EXPECT_EQ(applied[i], produced[150 + i]);
  EXPECT_GT(link.stats(End::a).dropped, 0u);
}

}  // namespace
}  // namespace plimo
