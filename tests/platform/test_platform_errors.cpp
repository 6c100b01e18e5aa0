#include <gtest/gtest.h>

#include <chrono>

#include "TestServers.h"
#include "platform/linux/PulseSoundCapture.h"
#include "platform/linux/PulseSoundOut.h"
#include "platform/linux/ScreenCapturer.h"
#include "platform/linux/XTestInputSink.h"

using namespace plimo;
using namespace plimo::testing;

TEST(PlatformErrors, NoXDisplayGivesClearErrorsAtOnce) {
  setenv("DISPLAY", ":4719", 1);  // nothing listens there
  auto began = std::chrono::steady_clock::now();
  ScreenCapturer capturer;
  EXPECT_TRUE(capturer.displays().empty());
  auto error = capturer.start({0, {0, 0, 100, 100}, true}, true, {});
  ASSERT_TRUE(error);
  EXPECT_EQ(*error, CaptureError::noServer);
  EXPECT_EQ(describe(*error), "The X display cannot be reached");
  XTestInputSink::Error sinkError{};
  EXPECT_FALSE(XTestInputSink::open(sinkError));
  EXPECT_EQ(sinkError, XTestInputSink::Error::noServer);
  capturer.stop();
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(3));
}

TEST(PlatformErrors, AnXServerWithoutXTestIsTold) {
  Xvfb server(640, 480, {"-extension", "XTEST"});
  if (!server.running()) GTEST_SKIP() << "Xvfb is not installed or did not start";
  XTestInputSink::Error error{};
  EXPECT_FALSE(XTestInputSink::open(error));
  EXPECT_EQ(error, XTestInputSink::Error::noXTest);
  EXPECT_EQ(XTestInputSink::describe(error), "The X server does not offer XTEST, so input cannot be played");
}

TEST(PlatformErrors, NoPulseAudioMeansNoSoundButPicturesStillFlow) {
  Xvfb server(640, 480);
  if (!server.running()) GTEST_SKIP() << "Xvfb is not installed or did not start";
  setenv("PULSE_SERVER", "unix:/nonexistent/plimo-no-pulse", 1);
  auto began = std::chrono::steady_clock::now();
  std::string why;
  EXPECT_FALSE(PulseSoundOut::open(why));
  EXPECT_EQ(why.rfind("No PulseAudio server: ", 0), 0u) << why;
  why.clear();
  EXPECT_FALSE(PulseSoundCapture::start([](std::span<const float>) {}, why));
  EXPECT_EQ(why.rfind("No PulseAudio server: ", 0), 0u) << why;

  ScreenCapturer capturer;
  auto screens = capturer.displays();
  ASSERT_FALSE(screens.empty());
  ASSERT_FALSE(capturer.start(screens[0], true, {}));
  EXPECT_EQ(capturer.soundProblem().rfind("No PulseAudio server: ", 0), 0u);
  capturer.stop();
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(3));
}
