#include <gtest/gtest.h>

#include "TestServers.h"
#include "platform/linux/PulseSoundCapture.h"
#include "platform/linux/PulseSoundOut.h"
#include "platform/linux/ScreenCapturer.h"
#include "platform/linux/XTestInputSink.h"
#include "testkit/Failures.h"

using namespace plimo;
using namespace plimo::testing;

// "At once": a call that waited for a server would meet the tests' time limit.
TEST(PlatformErrors, NoXDisplayGivesClearErrorsAtOnce) {
  setenv("DISPLAY", ":4719", 1);  // nothing listens there
  ScreenCapturer capturer;
  EXPECT_TRUE(capturer.displays().empty());
  for (const auto& failure : {testkit::failureOf([&] { capturer.start({0, {0, 0, 100, 100}, true}, {}); }),
                              testkit::failureOf([] { XTestInputSink::open(); })}) {
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), Failure::Kind::noServer);
    EXPECT_EQ(failure->text(), "The X display cannot be reached");
  }
  capturer.stop();
}

TEST(PlatformErrors, AnXServerWithoutXTestIsTold) {
  Xvfb server(640, 480, {"-extension", "XTEST"});
  if (!server.running()) GTEST_SKIP() << "Xvfb is not installed or did not start";
  const auto failure = testkit::failureOf([] { XTestInputSink::open(); });
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->kind(), Failure::Kind::noXTest);
  EXPECT_EQ(failure->text(), "The X server does not offer XTEST, so input cannot be played");
}

TEST(PlatformErrors, NoPulseAudioMeansNoSoundButPicturesStillCapture) {
  Xvfb server(640, 480);
  if (!server.running()) GTEST_SKIP() << "Xvfb is not installed or did not start";
  setenv("PULSE_SERVER", "unix:/nonexistent/plimo-no-pulse", 1);
  for (const auto& failure : {testkit::failureOf([] { PulseSoundOut::open(); }),
                              testkit::failureOf([] { PulseSoundCapture().start(); })}) {
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind(), Failure::Kind::noSound);
    EXPECT_EQ(failure->text().rfind("No PulseAudio server: ", 0), 0u) << failure->text();
  }

  ScreenCapturer capturer;
  auto screens = capturer.displays();
  ASSERT_FALSE(screens.empty());
  ASSERT_NO_THROW(capturer.start(screens[0], {}));
  capturer.stop();
}
