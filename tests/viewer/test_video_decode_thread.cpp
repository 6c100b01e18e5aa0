// The decoding thread with real H.264: answers in order on the loop, a bad
// frame, a host sending faster than this PC decodes, and answers left behind
// when it goes.

#include <gtest/gtest.h>

#include <cstring>

#include "platform/ffmpeg/H264Decoder.h"
#include "platform/ffmpeg/H264Encoder.h"
#include "testkit/GatedLoop.h"
#include "video/VideoKit.h"
#include "viewer/VideoDecodeThread.h"

namespace plimo {
namespace {

using Decoded = VideoDecodeThread::Decoded;

struct Rig {
  testkit::GatedLoop loop;
  std::vector<Decoded> answers;
  std::unique_ptr<VideoDecodeThread> decoding =
      std::make_unique<VideoDecodeThread>(loop, true, [this](Decoded d) { answers.push_back(std::move(d)); });
  SyntheticDesktop desktop{SyntheticDesktop::Script::typing, 160, 96};
  H264Encoder encoder{160, 96, 30};
  uint64_t serial = 0;

  bool send(bool key, std::unique_ptr<VideoDecoder> fresh = nullptr) {
    const Bytes frame = encoder.encode(videokit::next(desktop), key);
    return decoding->decode({++serial, 160, 96}, frame, std::move(fresh));
  }
  // Waits for `posts` answers in all and runs them.
  void deliver(int posts) {
    ASSERT_TRUE(loop.waitForPosts(posts));
    loop.inner.runPending();
  }
};

TEST(VideoDecodeThread, AnswersComeInOrderAndABadFrameEndsItsDecoder) {
  Rig r;
  ASSERT_TRUE(r.send(true, std::make_unique<H264Decoder>()));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(r.send(false));
  const Bytes cut{0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68, 0xCE};  // a parameter set cut short
  ASSERT_TRUE(r.decoding->decode({++r.serial, 160, 96}, cut, nullptr));
  ASSERT_TRUE(r.send(false));  // no decoder left for it
  ASSERT_TRUE(r.send(true, std::make_unique<H264Decoder>()));
  r.deliver(7);
  ASSERT_EQ(r.answers.size(), 7u);
  for (size_t i = 0; i < r.answers.size(); ++i) {
    const Decoded& d = r.answers[i];
    EXPECT_EQ(d.frame.serial, i + 1);
    EXPECT_EQ(d.frame.width, 160);
    EXPECT_EQ(bool(d.failure), i == 4) << i;
    EXPECT_EQ(bool(d.picture), i != 4 && i != 5) << i;
  }
  EXPECT_GE(videokit::psnr(videokit::pictureOf(r.desktop), *r.answers.back().picture), 32.0);
}

TEST(VideoDecodeThread, HostSendingFasterThanThisPcDecodesIsBounded) {
  Rig r;
  r.loop.hold();  // the thread stops in its first answer's post
  ASSERT_TRUE(r.send(true, std::make_unique<H264Decoder>()));
  ASSERT_TRUE(r.loop.waitForPosts(1));
  for (size_t i = 0; i < VideoDecodeThread::kMaxWaiting; ++i) ASSERT_TRUE(r.send(false));
  EXPECT_FALSE(r.send(false));  // dropped, and those waiting with it
  ASSERT_TRUE(r.send(false));   // no decoder any more: shows nothing
  ASSERT_TRUE(r.send(true, std::make_unique<H264Decoder>()));
  r.loop.release();
  r.deliver(3);
  ASSERT_EQ(r.answers.size(), 3u);
  EXPECT_EQ(r.answers[0].frame.serial, 1u);
  EXPECT_EQ(r.answers[1].frame.serial, VideoDecodeThread::kMaxWaiting + 3);
  EXPECT_FALSE(r.answers[1].picture);
  EXPECT_TRUE(r.answers[2].picture);
}

TEST(VideoDecodeThread, AnswersLeftBehindWhenItGoesAreDropped) {
  Rig r;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(r.send(i == 0, i == 0 ? std::make_unique<H264Decoder>() : nullptr));
  ASSERT_TRUE(r.loop.waitForPosts(3));
  r.decoding.reset();
  r.loop.inner.runPending();
  EXPECT_TRUE(r.answers.empty());
}

}  // namespace
}  // namespace plimo
