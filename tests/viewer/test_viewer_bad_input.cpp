// What a host may send that it should not: every malformed packet and
// message leaves the viewer as it was (nothing shown, nothing sent but
// channel acknowledgements), and a host claiming huge screens or sending
// frames without end gets no more memory than the stated budget.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "support/Zlib.h"
#include "testkit/ViewerRig.h"

using namespace plimo;

namespace {

using Viewer = testkit::ViewerRig;
using testkit::chunk;
using testkit::frame;
using testkit::update;

}  // namespace

TEST(ViewerBadInput, EveryMalformedPacketIsIgnoredWithoutAChange) {
  const Bytes full1200(1200, 7);
  struct Case {
    const char* name;
    std::function<void(Viewer&)> send;
  };
  const Case cases[] = {
      {"empty packet", [](Viewer& v) { v.session->receive(Bytes{}); }},
      {"status of one byte", [](Viewer& v) { v.session->receive(Bytes{0x87}); }},
      {"chunk cut short", [](Viewer& v) { v.session->receive(Bytes{0x81, 9, 0, 0}); }},
      {"chunk of no chunks", [&](Viewer& v) { v.session->receive(chunk(0x81, 9, 0, 0, full1200)); }},
      {"chunk index past its count", [&](Viewer& v) { v.session->receive(chunk(0x81, 9, 3, 2, full1200)); }},
      {"chunk of frame 0", [&](Viewer& v) { v.session->receive(chunk(0x81, 0, 0, 1, Bytes{0})); }},
      {"chunk payload too long", [&](Viewer& v) { v.session->receive(chunk(0x81, 9, 0, 2, Bytes(1201, 1))); }},
      {"windowed chunk cut short", [](Viewer& v) { v.session->receive(Bytes{0x8B, 1, 0, 0, 0, 0}); }},
      {"message cut short", [](Viewer& v) { v.session->receive(Bytes{0x88, 1, 0}); }},
      {"message of sequence 0", [](Viewer& v) { v.session->receive(Bytes{0x88, 0, 0, 0, 0, 1, 0, 'x'}); }},
      {"message part too long",
       [](Viewer& v) {
         Bytes p{0x88, 2, 0, 0, 0, 1, 0};
         p.resize(p.size() + 1151, 'x');
         v.session->receive(p);
       }},
      {"message far beyond the window", [](Viewer& v) { v.session->receive(Bytes{0x88, 0, 0, 0, 1, 1, 0, 'x'}); }},
      {"channel ack cut short", [](Viewer& v) { v.session->receive(Bytes{0x89, 1}); }},
      {"input ack cut short", [](Viewer& v) { v.session->receive(Bytes{0x85, 1}); }},
      {"sound without samples", [](Viewer& v) { v.session->receive(Bytes{0x8A, 1, 0, 0, 0}); }},
      {"unknown packet type", [](Viewer& v) { v.session->receive(Bytes{0x90, 1, 2, 3}); }},
      {"control text", [](Viewer& v) { v.session->receive(toBytes("MSG hello")); }},
      {"monitor list missing a byte",
       [](Viewer& v) {
         Bytes list(34, 0);  // two records need 35
         list[0] = 2;
         v.message(7, list);
       }},
      {"monitor list empty", [](Viewer& v) { v.message(7, {}); }},
      {"file offer under 12 bytes", [](Viewer& v) { v.message(3, Bytes(11, 1)); }},
      {"unknown message kind", [](Viewer& v) { v.message(42, toBytes("x")); }},
      {"kinds 2 and 14", [](Viewer& v) {
         v.message(2, toBytes("x"));
         v.message(14, toBytes("y"));
       }},
      {"video frame without data", [](Viewer& v) { v.picture(Bytes{1, 8, 0, 6, 0}); }},
      {"video frame before its parameter sets",
       [](Viewer& v) { v.picture(Bytes{1, 8, 0, 6, 0, 0, 0, 0, 1, 0x65, 0x88, 0x84}); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Viewer v;
    v.running();
    const std::string before = v.state();
    c.send(v);
    v.loop.advance(0.5);
    EXPECT_EQ(v.state(), before);
    for (auto& p : v.sentBeyondAcks()) ADD_FAILURE() << "sent a packet of type " << int(p[0]);
    EXPECT_FALSE(v.platform.soundOutput);
  }
}

TEST(ViewerBadInput, AHostClaimingAHugeScreenGetsNoCanvasOfThatSize) {
  Viewer v;
  v.running();
  v.picture(frame(0, update(65535, 65535, 0, 0)));
  EXPECT_EQ(v.session->tiles().width(), 8);
  EXPECT_EQ(v.session->tiles().pixels().size(), 8u * 6 * 4);
  EXPECT_EQ(v.logs.back(), "Bad screen update (bad(\"Bad screen size\")); asking for a full picture");
  EXPECT_FALSE(v.session->gotFirstFrame().get());
  ASSERT_FALSE(v.sent.empty());
  EXPECT_EQ(v.sent.back(), Bytes{SessionPacket::kFullPicture});
  // A stream that would inflate past the screen it claims is refused too.
  v.picture(frame(0, update(8, 6, 8, 6 * 400)));
  EXPECT_EQ(v.session->tiles().width(), 8);
}

TEST(ViewerBadInput, AHostClaimingHugeScreensCannotMakeTheHelperHoldMoreThanOneCanvas) {
  Viewer v;
  v.running();
  // Updates of a few bytes, 60 a second for 1 s, claiming the largest screen
  // there is and other sizes in turn.
  constexpr int kFrames = 60;
  constexpr size_t kLargest = size_t(16384) * 16384 * 4;
  int sizes = 0;  // sizes taken, each a new canvas
  size_t mostHeld = 0;
  for (int i = 0; i < kFrames; ++i) {
    const bool huge = i % 2 == 0;
    const int w = v.session->tiles().width(), h = v.session->tiles().height();
    v.picture(frame(0, update(huge ? 16384 : 640 + i, huge ? 16384 : 480, 0, 0)));
    const TileCanvas& canvas = v.session->tiles();
    sizes += canvas.width() != w || canvas.height() != h;
    // What the session and its display hold of pictures: one canvas, which
    // the display reads in place.
    const auto shown = v.display.tiles()->pixels.lock();
    size_t held = canvas.pixels().size();
    if (shown.get() != canvas.pixels().data())
      held += size_t(v.display.tiles()->width) * size_t(v.display.tiles()->height) * 4;
    mostHeld = std::max(mostHeld, held);
    v.loop.advance(1.0 / 60);
  }
  EXPECT_LE(mostHeld, kLargest);
  const Rate budget = ViewerPictures::kSizeChanges;
  EXPECT_LE(sizes, int(budget.burst + budget.perSecond));
  EXPECT_GE(sizes, 2);
  // Each refused update asks for a full picture once, no more.
  const auto asks = std::count(v.sent.begin(), v.sent.end(), Bytes{SessionPacket::kFullPicture});
  EXPECT_LE(asks, kFrames - sizes + 2);
  // The budget refills: the host's real screen is taken again.
  v.loop.advance(1);
  v.picture(frame(0, update(8, 6, 8, 6)));
  EXPECT_EQ(v.session->tiles().width(), 8);
  EXPECT_TRUE(v.session->gotFirstFrame().get());
}

TEST(ViewerBadInput, EndlessUnfinishedFramesHoldAtMostTheFrameBudget) {
  Viewer v;
  v.running();
  const Bytes payload(1200, 0x55);
  // Windowed: frame 1 never comes, frames 2 to 64 fill without end.
  for (uint32_t id = 2; id < 2 + 64; ++id)
    for (uint16_t i = 0; i < 1100; ++i) v.session->receive(chunk(0x8B, id, i, 65535, payload));
  EXPECT_LE(v.session->frameBytesHeld(), FrameWindowReceiver::kMaxHeldAhead);
  EXPECT_GE(v.session->frameBytesHeld(), FrameWindowReceiver::kMaxHeldAhead - 1200);
  // Single-frame: each new frame drops the unfinished one.
  for (uint32_t id = 100; id < 5000; ++id) v.session->receive(chunk(0x81, id, 0, 2, payload));
  EXPECT_LE(v.session->frameBytesHeld(), FrameWindowReceiver::kMaxHeldAhead + 1200);
  EXPECT_EQ(v.display.shown(), 1);
}

TEST(ViewerBadInput, ChatAndNoticesWithoutEndKeepTheNewestWithinTheirCapsAndCannotFloodTheLog) {
  {
    Viewer v;
    v.running();
    for (int i = 0; i < 6; ++i) v.message(1, Bytes(1 << 20, uint8_t('a' + i)));
    size_t bytes = 0;
    for (auto& line : v.session->chat().get()) bytes += line.text.size();
    EXPECT_LE(bytes, kMaxTalkBytes);
    EXPECT_EQ(v.session->chat().get().back().text[0], 'f');
  }
  Viewer v;
  v.running();
  for (size_t i = 0; i < kMaxChatLines + 5; ++i) v.message(1, toBytes("line " + std::to_string(i)));
  for (size_t i = 0; i < ViewerSession::kMaxNotes + 5; ++i) v.message(3, Bytes(12, uint8_t(i)));
  ASSERT_EQ(v.session->chat().get().size(), kMaxChatLines);
  EXPECT_EQ(v.session->chat().get().back().text, "line " + std::to_string(kMaxChatLines + 4));
  EXPECT_EQ(v.session->notes().get().size(), ViewerSession::kMaxNotes);
  // Before any picture the host's lines are logged, but not without end.
  Viewer waiting;
  for (int i = 0; i < ViewerSession::kMaxLoggedWaiting + 20; ++i) waiting.message(1, toBytes("no screen"));
  EXPECT_EQ(std::count_if(waiting.logs.begin(), waiting.logs.end(),
                          [](const std::string& l) { return l.find("no picture yet") != std::string::npos; }),
            ViewerSession::kMaxLoggedWaiting);
}
