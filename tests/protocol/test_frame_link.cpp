// Frame transfer end to end over an in-memory link that loses, repeats and
// reorders packets, with the host's and the viewer's timers on virtual time.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "core/ManualLoop.h"
#include "protocol/wire/FrameReceiver.h"
#include "protocol/wire/FrameWindowReceiver.h"
#include "protocol/wire/FrameWindowSender.h"
#include "testkit/LossyLink.h"

namespace plimo {
namespace {

using testkit::LossyLink;
using End = LossyLink::End;  // a = host, b = viewer

std::vector<Bytes> makeFrames(size_t count, uint32_t seed) {
  std::mt19937 rng(seed);
  const size_t edgeSizes[] = {0, 1, 1200, 1201, 2400, 300000};
  std::vector<Bytes> frames;
  for (size_t i = 0; i < count; ++i) {
    const size_t size = i < std::size(edgeSizes) ? edgeSizes[i] : rng() % 80000;
    Bytes f(size);
    for (auto& b : f) b = uint8_t(rng());
    frames.push_back(std::move(f));
  }
  return frames;
}

// The host side as the session drives it: a new frame whenever there is room
// (sent at once), and the sender's queue every 10 ms.
struct Host {
  Host(ManualLoop& loop, LossyLink& wire, std::vector<Bytes> toSend, bool legacy)
      : sender(loop), link(wire), frames(std::move(toSend)) {
    sender.setLegacy(legacy);
    sender.setMaxInFlight(4);
    link.setReceiver(End::a, [this](ByteView p) {
      if (p[0] == 0x82) sender.handleAck(p);
      if (p[0] == 0x83) sender.handleNack(p);
      startIfRoom();
    });
    timer = loop.every(0.01, [this] {
      startIfRoom();
      this->link.send(End::a, sender.nextPackets(40));
    });
  }

  void startIfRoom() {
    while (next < frames.size() && sender.hasRoom()) {
      const uint32_t id = sender.start(frames[next]).value();
      ids[id] = next++;
      link.send(End::a, sender.nextPackets(40));
    }
  }

  FrameWindowSender sender;
  LossyLink& link;
  std::vector<Bytes> frames;
  size_t next = 0;
  std::map<uint32_t, size_t> ids;  // frame ID → index in `frames`
  Timer timer;
};

struct WindowedViewer {
  WindowedViewer(ManualLoop& loop, LossyLink& link) : receiver(loop) {
    link.setReceiver(End::b, [this, &link](ByteView p) {
      auto result = receiver.handleChunk(p);
      if (result.reply) link.send(End::b, *result.reply);
      for (auto& blob : result.blobs) delivered.push_back(std::move(blob));
    });
    timer = loop.every(0.01, [this, &link] { link.send(End::b, receiver.pendingNacks(0.02)); });
  }

  FrameWindowReceiver receiver;
  std::vector<Bytes> delivered;
  Timer timer;
};

TEST(FrameLink, WindowedDeliversEveryFrameWholeAndInOrder) {
  ManualLoop loop;
  LossyLink link(loop, {.drop = 0.1, .duplicate = 0.1, .reorder = 0.2, .seed = 3});
  const auto frames = makeFrames(40, 9);
  Host host(loop, link, frames, false);
  WindowedViewer viewer(loop, link);
  host.startIfRoom();
  ASSERT_TRUE(loop.runUntil([&] { return viewer.delivered.size() >= frames.size(); }, 120.0, 0.005));
  loop.advance(1.0);  // anything still in flight must not deliver twice
  ASSERT_EQ(viewer.delivered.size(), frames.size());
  for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(viewer.delivered[i], frames[i]) << "frame " << i;
  EXPECT_TRUE(host.sender.frames().empty());
  EXPECT_GT(link.stats(End::a).dropped, 0u);
  EXPECT_GT(link.stats(End::b).dropped, 0u);
}

// With losses only (no repeats, no reordering), a chunk goes out a second
// time only when it was lost, or as the tail probe (the last index).
TEST(FrameLink, OnlyMissingChunksAreSentAgain) {
  ManualLoop loop;
  LossyLink link(loop, {.drop = 0.05, .seed = 17});
  const auto frames = makeFrames(20, 4);
  std::map<std::pair<uint32_t, uint16_t>, int> sends;
  std::set<std::pair<uint32_t, uint16_t>> lost;
  auto key = [](ByteView p) { return std::make_pair(readLE32(p, 1), readLE16(p, 5)); };
  link.setFilter([&](End from, ByteView p) {
    if (from == End::a) ++sends[key(p)];
    return true;
  });
  link.setOnDrop([&](End from, ByteView p) {
    if (from == End::a) lost.insert(key(p));
  });
  Host host(loop, link, frames, false);
  WindowedViewer viewer(loop, link);
  host.startIfRoom();
  ASSERT_TRUE(loop.runUntil([&] { return viewer.delivered.size() >= frames.size(); }, 60.0, 0.005));
  for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(viewer.delivered[i], frames[i]);

  size_t resent = 0;
  for (const auto& [k, n] : sends) {
    if (n < 2) continue;
    resent += n - 1;
    const uint16_t last = uint16_t((frames[host.ids.at(k.first)].size() + 1199) / 1200);
    const bool probe = k.second == std::max<uint16_t>(last, 1) - 1;
    EXPECT_TRUE(lost.count(k) || probe) << "frame " << k.first << " chunk " << k.second << " sent " << n << " times";
  }
  EXPECT_GT(lost.size(), 0u);
  EXPECT_GE(resent, lost.size());
}

// The single-frame transfer with a host that gives frames up half-sent (as it
// does after 2 s without an acknowledgement): the viewer drops each
// unfinished frame for the newer one and delivers every finished frame once.
TEST(FrameLink, SingleFrameReceiverDropsAbandonedFrames) {
  ManualLoop loop;
  LossyLink link(loop, {.drop = 0.1, .duplicate = 0.1, .reorder = 0.1, .seed = 8});
  const auto frames = makeFrames(30, 5);
  FrameWindowSender sender(loop);  // legacy at creation
  FrameReceiver receiver(loop);
  std::vector<Bytes> delivered;
  std::set<size_t> abandoned;
  size_t next = 0;
  bool waiting = false;
  auto startNext = [&] {
    while (next < frames.size() && !waiting) {
      const size_t i = next++;
      sender.start(frames[i]);
      if (i % 5 == 4 && frames[i].size() > 2400) {
        // Half the chunks, then the frame is given up for the next one.
        const size_t chunks = (frames[i].size() + 1199) / 1200;
        link.send(End::a, sender.nextPackets(chunks / 2));
        sender.clear();
        abandoned.insert(i);
        continue;
      }
      link.send(End::a, sender.nextPackets(40));
      waiting = true;
    }
  };
  link.setReceiver(End::a, [&](ByteView p) {
    if (p[0] == 0x82 && sender.handleAck(p)) waiting = false;
    if (p[0] == 0x83) sender.handleNack(p);
    startNext();
  });
  link.setReceiver(End::b, [&](ByteView p) {
    auto result = receiver.handleChunk(p);
    if (result.reply) link.send(End::b, *result.reply);
    if (result.blob) delivered.push_back(std::move(*result.blob));
  });
  Timer hostTimer = loop.every(0.01, [&] { link.send(End::a, sender.nextPackets(40)); });
  Timer quick = loop.every(0.01, [&] {
    if (auto n = receiver.quickNack()) link.send(End::b, *n);
  });
  Timer slow = loop.every(0.1, [&] {
    if (auto n = receiver.pendingNack()) link.send(End::b, *n);
  });
  startNext();
  ASSERT_TRUE(loop.runUntil([&] { return next == frames.size() && !waiting; }, 120.0, 0.005));
  loop.advance(1.0);

  std::vector<Bytes> expected;
  for (size_t i = 0; i < frames.size(); ++i) {
    if (!abandoned.count(i)) expected.push_back(frames[i]);
  }
  EXPECT_GE(abandoned.size(), 3u);
  ASSERT_EQ(delivered.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(delivered[i], expected[i]) << "delivery " << i;
}

// A complete picture that a slow link takes longer than the host's 2 s limit
// to carry is late only from when its last chunk first went out: counted
// from its start, it would be given up and sent again without end. Chunks
// asked for again do not move that moment.
TEST(FrameLink, AFrameIsLateOnlyFromWhenItWasWhollySent) {
  ManualLoop loop;
  FrameWindowSender sender(loop);
  sender.start(Bytes(1200 * 1000, 0x55));
  for (int step = 0; step < 24; ++step) {
    EXPECT_EQ(sender.nextPackets(40).size(), 40u);
    loop.advance(0.1);
  }
  EXPECT_FALSE(sender.frames().front().sentWhole) << "still being sent after 2.4 s";
  EXPECT_EQ(sender.nextPackets(40).size(), 40u);
  const double whole = loop.now();
  EXPECT_EQ(sender.frames().front().sentWhole, std::optional<double>(whole));
  Bytes nack{0x83};
  appendLE<uint32_t>(nack, sender.frames().front().id);
  appendLE<uint16_t>(nack, 1);
  appendLE<uint16_t>(nack, 7);
  sender.handleNack(nack);
  loop.advance(0.5);
  EXPECT_EQ(sender.nextPackets(40).size(), 1u);
  EXPECT_EQ(sender.frames().front().sentWhole, std::optional<double>(whole));
}

}  // namespace
}  // namespace plimo
