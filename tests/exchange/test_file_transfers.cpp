// File transfers between two sides over a lossy link on virtual time: files
// both ways byte-exact, cancel and failure leave nothing, hostile names and
// lying sizes are refused, and nothing moves before the partner named "files".

#include <gtest/gtest.h>

#include <random>

#include "core/ManualLoop.h"
#include "exchange/FileTransfers.h"
#include "exchange/SafeName.h"
#include "exchange/TransferText.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "testkit/LossyLink.h"
#include "testkit/TempDir.h"

namespace plimo {
namespace {

using testkit::LossyLink;
using End = LossyLink::End;
using PlimoCrypto::sha256;

std::vector<std::string> listing(const std::filesystem::path& folder) {
  std::vector<std::string> out;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) out.push_back(entry.path().filename());
  std::sort(out.begin(), out.end());
  return out;
}

std::string randomBytes(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string out(size, '\0');
  for (auto& c : out) c = char(rng());
  return out;
}

// Two sides, each with its channel and transfers, a at the helped PC.
struct Pair {
  ManualLoop loop;
  LossyLink link{loop, {.drop = 0.03, .duplicate = 0.01, .reorder = 0.02, .delay = 0.01, .seed = 9}};
  testkit::TempDir dirA{"files-a"}, dirB{"files-b"};
  MsgChannel channelA{loop}, channelB{loop};
  std::vector<std::string> notesA, notesB;
  PartnerExtensions extA, extB;
  FileTransfers a;
  FileTransfers b{loop, channelB, extB, {dirB.path() / "in", true}, [this](auto& t) { notesB.push_back(t); }};
  Timer tick;

  // `person`: someone at the helped PC answers; `folder`: it has one for files.
  explicit Pair(bool person = true, bool folder = true)
      : a(loop, channelA, extA, {folder ? dirA.path() / "in" : "", person}, [this](auto& t) { notesA.push_back(t); }) {
    std::filesystem::create_directory(dirA.path() / "in");
    std::filesystem::create_directory(dirB.path() / "in");
    auto wire = [](MsgChannel& ch, FileTransfers& files) {
      return [&ch, &files](ByteView p) {
        if (p[0] == 0x89) return ch.handleAck(p);
        for (auto& m : ch.handleMsg(p)) files.handle(m);
      };
    };
    link.setReceiver(End::a, wire(channelA, a));
    link.setReceiver(End::b, wire(channelB, b));
    tick = loop.every(0.01, [this] {
      a.tick(false);
      b.tick(false);
      link.send(End::a, channelA.poll());
      link.send(End::b, channelB.poll());
    });
    extA.take(*extB.listOnce());
    extB.take(*extA.listOnce());
  }
  bool settle(double seconds = 120) {
    return loop.runUntil([&] { return !a.sending().get() && !b.sending().get() && !b.offered().get(); }, seconds,
                         0.002);
  }
};

TEST(FileTransfers, AFileGoesEachWayWholeOverALossyLink) {
  Pair p;
  const std::string outB = randomBytes(3'000'000, 1), outA = randomBytes(700'001, 2);
  testkit::writeFile(p.dirB / "to-helped.bin", outB);
  testkit::writeFile(p.dirA / "asked.log", outA);
  testkit::writeFile(p.dirA / "in" / "to-helped.bin", "already here");

  // The helper (b) sends; the helped person accepts.
  ASSERT_TRUE(p.b.sendFile(p.dirB / "to-helped.bin"));
  EXPECT_FALSE(p.b.sendFile(p.dirB / "to-helped.bin")) << "one at a time";
  ASSERT_TRUE(p.loop.runUntil([&] { return p.a.offered().get().has_value(); }, 5));
  EXPECT_EQ(*p.a.offered().get(), (TransferView{"to-helped.bin", 3'000'000}));
  p.a.answerOffer(true);
  // The helper asks; the helped person picks a file; the helper accepts it.
  p.b.requestFile();
  ASSERT_TRUE(p.loop.runUntil([&] { return p.a.requested().get(); }, 5));
  ASSERT_TRUE(p.a.sendFile(p.dirA / "asked.log"));
  EXPECT_FALSE(p.a.requested().get());
  ASSERT_TRUE(p.loop.runUntil([&] { return p.b.offered().get().has_value(); }, 5));
  p.b.answerOffer(true);
  ASSERT_TRUE(p.loop.runUntil([&] { return p.b.sending().get() && p.b.sending().get()->done > 0; }, 20));
  EXPECT_GT(p.b.sending().get()->rate, 0);
  ASSERT_TRUE(p.settle());

  EXPECT_EQ(listing(p.dirA / "in"), (std::vector<std::string>{"to-helped (2).bin", "to-helped.bin"}));
  EXPECT_EQ(testkit::readFile(p.dirA / "in" / "to-helped (2).bin"), outB) << "never overwrites";
  EXPECT_EQ(testkit::readFile(p.dirA / "in" / "to-helped.bin"), "already here");
  EXPECT_EQ(listing(p.dirB / "in"), (std::vector<std::string>{"asked.log"}));
  EXPECT_EQ(testkit::readFile(p.dirB / "in" / "asked.log"), outA);
  EXPECT_EQ(p.notesB.back(), "\"to-helped.bin\" arrived whole.");
  EXPECT_GT(p.link.stats(End::b).dropped, 0u);
}

TEST(FileTransfers, CancelHalfwayFromEitherSideLeavesNothing) {
  for (const bool bySender : {true, false}) {
    Pair p;
    testkit::writeFile(p.dirB / "big.bin", randomBytes(2'000'000, 3));
    ASSERT_TRUE(p.b.sendFile(p.dirB / "big.bin"));
    ASSERT_TRUE(p.loop.runUntil([&] { return p.a.offered().get().has_value(); }, 5));
    p.a.answerOffer(true);
    ASSERT_TRUE(p.loop.runUntil([&] { return p.a.receiving().get() && p.a.receiving().get()->done > 900'000; }, 60));
    EXPECT_EQ(listing(p.dirA / "in"), (std::vector<std::string>{"big.bin.part"}));
    bySender ? p.b.cancelSending() : p.a.cancelReceiving();
    p.loop.advance(2);
    EXPECT_TRUE(listing(p.dirA / "in").empty()) << bySender;
    EXPECT_FALSE(p.a.receiving().get());
    EXPECT_FALSE(p.b.sending().get());
  }
}

// The partner's raw offer and chunks, as a hostile partner would send them.
void offer(Pair& p, uint32_t id, uint64_t size, const std::string& name, ByteView digest) {
  p.channelB.post(FileKind::offer, FileMsg::encode(FileMsg::Offer{id, size, Bytes(digest.begin(), digest.end()), name}));
}

TEST(FileTransfers, HostileNamesAndLyingSizesAreRefusedAndLeaveNothing) {
  Pair p(false);
  const Bytes data(5000, 0x42), digest = sha256(data);
  uint32_t id = 1;
  for (const std::string& name : std::vector<std::string>{"../../etc/passwd", "a/b", std::string("x\0y", 3), "\x1b[2Jclear", ".."})
    offer(p, id++, data.size(), name, digest);
  offer(p, id++, uint64_t(1) << 60, "huge.bin", digest);
  // Says 1000 bytes, sends 5000.
  offer(p, id, 1000, "short.bin", digest);
  p.channelB.post(FileKind::chunk, FileMsg::encodeChunk(id, 0, ByteView(data).first(900)));
  p.channelB.post(FileKind::chunk, FileMsg::encodeChunk(id, 900, ByteView(data).first(900)));
  ++id;
  // Right size, wrong contents.
  offer(p, id, 10, "wrong.bin", digest);
  p.channelB.post(FileKind::chunk, FileMsg::encodeChunk(id, 0, ByteView(data).first(10)));
  ++id;
  // A chunk out of order.
  offer(p, id, 2000, "gap.bin", sha256(ByteView(data).first(2000)));
  p.channelB.post(FileKind::chunk, FileMsg::encodeChunk(id, 1000, ByteView(data).first(1000)));
  p.loop.advance(5);
  EXPECT_TRUE(listing(p.dirA / "in").empty());
  EXPECT_FALSE(p.a.receiving().get());
  const auto refused = std::count_if(p.notesA.begin(), p.notesA.end(), [](auto& n) { return n.find("refused") != std::string::npos; });
  EXPECT_EQ(refused, 6);
  const auto failed = std::count_if(p.notesA.begin(), p.notesA.end(), [](auto& n) { return n.find("failed") != std::string::npos; });
  EXPECT_EQ(failed, 3);
}

TEST(FileTransfers, WithNoOneToAskAndNoFolderNothingIsTakenOrPicked) {
  Pair p(false, false);
  testkit::writeFile(p.dirB / "f.txt", "x");
  ASSERT_TRUE(p.b.sendFile(p.dirB / "f.txt"));
  p.b.requestFile();
  ASSERT_TRUE(p.loop.runUntil([&] { return p.notesB.size() == 2; }, 5));
  EXPECT_EQ(p.notesB, (std::vector<std::string>{"The file \"f.txt\" was declined: the other PC has no folder for files.",
                                                "No file came: the other PC picked none or cannot pick one."}));
  EXPECT_TRUE(listing(p.dirA / "in").empty());
}

TEST(FileTransfers, NothingMovesBeforeThePartnerNamesFiles) {
  ManualLoop loop;
  MsgChannel channel(loop);
  testkit::TempDir dir("files-off");
  testkit::writeFile(dir / "f", "x");
  PartnerExtensions partner;
  FileTransfers files(loop, channel, partner, {dir.path(), false}, {});
  EXPECT_FALSE(files.sendFile(dir / "f"));
  files.requestFile();
  files.handle(ChannelMsg{FileKind::offer, false, FileMsg::encode(FileMsg::Offer{1, 1, sha256(toBytes("x")), "g"})});
  EXPECT_TRUE(channel.out().empty());
  EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{"f"}));
}

TEST(SafeName, KeepsPlainNamesOnly) {
  const struct {
    std::string name;
    bool kept;
  } table[] = {
      {"report.pdf", true},        {"r\xC3\xA9sum\xC3\xA9.txt", true}, {"a..b", true},   {"COM10", true},
      {std::string(255, 'n'), true},
      {"../../etc/passwd", false}, {"a/b", false},  {"a\\b", false},    {"..", false},  {".", false},
      {std::string("a\0b", 3), false}, {"x\x1b[31m", false}, {"tab\there", false}, {"c1\xC2\x9B", false},
      {"bad\xFF", false},          {"CON", false},  {"nul.txt", false}, {"Lpt3.log", false}, {"x.part", false},
      {" lead", false},            {"trail.", false}, {"", false},      {std::string(256, 'n'), false},
  };
  for (const auto& row : table) EXPECT_EQ(safeFileName(row.name).has_value(), row.kept) << row.name;
}

TEST(SafeName, AFreeNameSkipsFilesAndPartFiles) {
  testkit::TempDir dir("names");
  EXPECT_EQ(freeFileName(dir.path(), "a.txt"), dir / "a.txt");
  testkit::writeFile(dir / "a.txt", "");
  testkit::writeFile(dir / "a (2).txt.part", "");
  EXPECT_EQ(freeFileName(dir.path(), "a.txt"), dir / "a (3).txt");
  testkit::writeFile(dir / "noext", "");
  EXPECT_EQ(freeFileName(dir.path(), "noext"), dir / "noext (2)");
}

TEST(TransferText, SaysSizeRateAndTimeLeft) {
  const struct {
    TransferView view;
    std::string text;
  } table[] = {
      {{"a", 812, 0, 0, 0}, "0 bytes of 812 bytes"},
      {{"a", 50'000'000, 12'000'000, 2'100'000, 18.1}, "12.0 MB of 50.0 MB, 2.1 MB/s, 19 s left"},
      {{"a", 3'000'000'000, 1'000, 4'200, 476'190}, "1.0 kB of 3.0 GB, 4.2 kB/s, 132 h 17 min left"},
      {{"a", 9'000'000, 1'000'000, 100'000, 80}, "1.0 MB of 9.0 MB, 100.0 kB/s, 2 min left"},
  };
  for (const auto& row : table) EXPECT_EQ(progressText(row.view), row.text);
}

}  // namespace
}  // namespace plimo
