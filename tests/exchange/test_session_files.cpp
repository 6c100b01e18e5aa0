// Files between a real host and viewer session over a link that loses 3 %,
// duplicates and reorders: byte-exact both ways while pictures keep coming,
// and nothing of the kind goes to a partner of another edition.

#include <gtest/gtest.h>

#include <random>

#include "core/ManualLoop.h"
#include "platform/fake/FakePlatform.h"
#include "platform/fake/SyntheticDesktop.h"
#include "testkit/SessionPair.h"
#include "testkit/TempDir.h"

using namespace plimo;
using namespace plimo::testkit;

namespace {

struct Platforms {
  ManualLoop loop;
  FakePlatform helped, helper;
  TempDir helpedDir{"helped"}, helperDir{"helper"};
  Platforms() {
    helped.pictureSize = {640, 360};
    helped.screens[0].bounds = {0, 0, 640, 360};
  }
};

SessionPair::Options lossyWithFolders(const Platforms& p) {
  SessionPair::Options options;
  options.link = {.drop = 0.03, .duplicate = 0.01, .reorder = 0.02, .delay = 0.01, .seed = 7};
  // A person at the helped PC; a helper without windows, receiving into its folder.
  options.helpedFiles = {p.helpedDir.path(), true};
  options.helperFiles = {p.helperDir.path(), false};
  return options;
}

struct Pair : Platforms, SessionPair {
  Pair() : SessionPair(loop, helped, helper, nullptr, lossyWithFolders(*this)) {}
};

std::string randomText(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string out(size, '\0');
  for (auto& c : out) c = char(rng());
  return out;
}

TEST(SessionFiles, BothWaysWholeOverALossyLinkWhilePicturesKeepComing) {
  Pair p;
  ASSERT_TRUE(p.loop.runUntil([&] { return bool(p.answer); }, 3));
  p.answer(HostSession::Answer::control);
  ASSERT_TRUE(p.loop.runUntil([&] { return p.viewer->files().enabled() && p.host->files().enabled(); }, 5));

  SyntheticDesktop desk(SyntheticDesktop::Script::typing, 640, 360);
  Timer screen = p.loop.every(1.0 / 30, [&] { p.helped.screen->showNext(desk); });
  auto picturesPerSecond = [&] {
    const int before = p.viewer->framesShown();
    p.loop.advance(2.0);
    return (p.viewer->framesShown() - before) / 2.0;
  };
  const double idle = picturesPerSecond();
  ASSERT_GT(idle, 10);

  const std::string toHelped = randomText(2'500'000, 1), toHelper = randomText(1'500'000, 2);
  writeFile(p.helperDir / "fix.sh", toHelped);
  writeFile(p.helpedDir / "syslog", toHelper);
  ASSERT_TRUE(p.viewer->files().sendFile(p.helperDir / "fix.sh"));
  ASSERT_TRUE(p.loop.runUntil([&] { return p.host->files().offered().get().has_value(); }, 5));
  p.host->files().answerOffer(true);
  p.viewer->files().requestFile();
  ASSERT_TRUE(p.loop.runUntil([&] { return p.host->files().requested().get(); }, 5));
  ASSERT_TRUE(p.host->files().sendFile(p.helpedDir / "syslog"));
  ASSERT_TRUE(p.loop.runUntil([&] { return p.host->files().receiving().get().has_value(); }, 5));

  const double busy = picturesPerSecond();
  RecordProperty("pictures_a_second_before", std::to_string(idle));
  RecordProperty("pictures_a_second_during", std::to_string(busy));
  EXPECT_GT(busy, 0.8 * idle) << "pictures a second: " << idle << " before, " << busy << " during";
  ASSERT_TRUE(p.loop.runUntil([&] { return !p.viewer->files().sending().get() && !p.host->files().sending().get(); },
                              60));
  EXPECT_EQ(readFile(p.helpedDir / "fix.sh"), toHelped);
  EXPECT_EQ(readFile(p.helperDir / "syslog"), toHelper);
  EXPECT_GT(p.link.stats(LossyLink::End::a).dropped + p.link.stats(LossyLink::End::b).dropped, 0u);
}

}  // namespace
