// The session's packets and messages against their literal bytes, and what
// each reader makes of bytes a partner may send instead.

#include <gtest/gtest.h>

#include "protocol/wire/SessionCodecs.h"

using namespace plimo;

namespace {

struct Written {
  const char* what;
  Bytes bytes;
  Bytes expected;
};

TEST(SessionCodecs, EachWriterGivesItsLiteralBytes) {
  const MonitorList::Monitor monitors[] = {{0, 0, 1920, 1080, true}, {-1280, 200, 1280, 1024, false}};
  const std::vector<MonitorList::Monitor> seventeen(17, MonitorList::Monitor{1, 2, 3, 4, false});
  const Written table[] = {
      {"host status", HostStatus::encode({2, true, false}), {0x87, 0x02, 0x01, 0x00}},
      {"host status, secure desktop", HostStatus::encode({0, false, true}), {0x87, 0x00, 0x00, 0x01}},
      {"audio", AudioPacket::encode(0x01020304, Bytes{0xAA, 0xBB}), {0x8A, 0x04, 0x03, 0x02, 0x01, 0xAA, 0xBB}},
      {"tiles", PictureBlob::tiles(Bytes{0x78, 0x9C}), {0x00, 0x78, 0x9C}},
      {"video", PictureBlob::video(1920, 1080, Bytes{0x00, 0x00, 0x01}),
       {0x01, 0x80, 0x07, 0x38, 0x04, 0x00, 0x00, 0x01}},
      {"monitors",
       MonitorList::encode(monitors),
       {0x02,                                                            //
        0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x07, 0, 0, 0x38, 0x04, 0, 0, 1,  //
        0x00, 0xFB, 0xFF, 0xFF, 0xC8, 0, 0, 0, 0x00, 0x05, 0, 0, 0x00, 0x04, 0, 0, 0}},
      {"no monitors", MonitorList::encode({}), {0x00}},
      {"profile picture", ProfilePicture::encode(96, 72, Bytes{0x78, 0x9C}), {0x60, 0x00, 0x48, 0x00, 0x78, 0x9C}},
  };
  for (const auto& row : table) EXPECT_EQ(row.bytes, row.expected) << row.what;
  EXPECT_EQ(MonitorList::encode(seventeen).size(), 1 + 16 * MonitorList::kRecord) << "only the first 16 go";
  EXPECT_EQ(MonitorList::encode(seventeen)[0], 16);
  EXPECT_EQ(ProfileText::encode({"Anna|B", "ACME", "a@acme.test", "+1 555", true}), "Anna/B|ACME|a@acme.test|+1 555|1");
  EXPECT_EQ(ProfileText::encode({}), "||||0");
}

TEST(SessionCodecs, ReadersTakeBackWhatTheWritersWrote) {
  auto status = HostStatus::decode(HostStatus::encode({1, true, true}));
  ASSERT_TRUE(status);
  EXPECT_EQ(status->mode, 1);
  EXPECT_TRUE(status->adminAvailable && status->secureDesktop);

  const Bytes audio = AudioPacket::encode(7, Bytes{1, 2, 3});
  auto sound = AudioPacket::decode(audio);
  ASSERT_TRUE(sound);
  EXPECT_EQ(sound->sequence, 7u);
  EXPECT_EQ(Bytes(sound->sound.begin(), sound->sound.end()), (Bytes{1, 2, 3}));

  const Bytes video = PictureBlob::video(640, 480, Bytes{9});
  auto picture = PictureBlob::decode(video);
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->format, PictureBlob::Format::video);
  EXPECT_EQ(picture->width, 640);
  EXPECT_EQ(picture->height, 480);
  EXPECT_EQ(picture->body.size(), 1u);

  const MonitorList::Monitor one[] = {{-5, 7, 800, 600, true}};
  auto monitors = MonitorList::decode(MonitorList::encode(one));
  ASSERT_TRUE(monitors);
  ASSERT_EQ(monitors->size(), 1u);
  EXPECT_EQ((*monitors)[0].x, -5);
  EXPECT_TRUE((*monitors)[0].primary);

  auto text = ProfileText::decode("  Anna  | ACME |a@acme.test|+1|1");
  EXPECT_EQ(text.name, "Anna");
  EXPECT_EQ(text.company, "ACME");
  EXPECT_TRUE(text.pictureFollows);
}

TEST(SessionCodecs, ReadersRefuseTruncatedMistypedAndOversizedBytes) {
  struct Refused {
    const char* what;
    bool refused;
  };
  Bytes fullMonitors = MonitorList::encode(std::vector<MonitorList::Monitor>(3));
  Bytes shortMonitors(fullMonitors.begin(), fullMonitors.end() - 1);
  Bytes claimsMore = fullMonitors;
  claimsMore[0] = 255;
  const Refused table[] = {
      {"status of one byte", !HostStatus::decode(Bytes{0x87})},
      {"status of another type", !HostStatus::decode(Bytes{0x8A, 0x01, 0x01, 0x00})},
      {"audio with no sound", !AudioPacket::decode(Bytes{0x8A, 1, 0, 0, 0})},
      {"audio cut in its sequence", !AudioPacket::decode(Bytes{0x8A, 1, 0})},
      {"audio of another type", !AudioPacket::decode(Bytes{0x87, 1, 0, 0, 0, 9})},
      {"empty picture", !PictureBlob::decode(Bytes{})},
      {"video with no access unit", !PictureBlob::decode(Bytes{0x01, 0x80, 0x07, 0x38, 0x04})},
      {"video cut in its size", !PictureBlob::decode(Bytes{0x01, 0x80, 0x07})},
      {"empty monitor list", !MonitorList::decode(Bytes{})},
      {"monitor list one byte short", !MonitorList::decode(shortMonitors)},
      {"monitor list claiming 255", !MonitorList::decode(claimsMore)},
      {"profile picture of no pixels", !ProfilePicture::decode(Bytes{0x60, 0x00, 0x48, 0x00})},
      {"profile picture 0 wide", !ProfilePicture::decode(Bytes{0x00, 0x00, 0x48, 0x00, 0x78})},
      {"profile picture 257 high", !ProfilePicture::decode(Bytes{0x01, 0x00, 0x01, 0x01, 0x78})},
      {"profile picture 65,535 wide", !ProfilePicture::decode(Bytes{0xFF, 0xFF, 0x01, 0x00, 0x78})},
  };
  for (const auto& row : table) EXPECT_TRUE(row.refused) << row.what;

  // What is taken as it stands: a count of none, a tile update of no bytes,
  // a profile text without bars.
  EXPECT_EQ(MonitorList::decode(Bytes{0x00}).value().size(), 0u);
  EXPECT_EQ(PictureBlob::decode(Bytes{0x00}).value().body.size(), 0u);
  auto bare = ProfileText::decode("   ");
  EXPECT_FALSE(bare.name);
  EXPECT_FALSE(bare.company);
  EXPECT_FALSE(bare.pictureFollows);
  EXPECT_FALSE(ProfileText::decode("A|B|C|D|1 ").pictureFollows) << "only exactly \"1\"";
}

}  // namespace
