// The host session's life cycle, consent and vocabulary, on virtual time.
#include <gtest/gtest.h>

#include "HostRig.h"
#include "support/Zlib.h"

using namespace plimo;
using namespace plimo::testkit;

namespace {

Bytes bytesOf(std::initializer_list<uint8_t> list) { return Bytes(list); }

Bytes profilePicture(int w, int h, size_t pixelBytes) {
  Bytes out;
  appendLE<uint16_t>(out, uint16_t(w));
  appendLE<uint16_t>(out, uint16_t(h));
  append(out, Zlib::compress(Bytes(pixelBytes, 0x40)));
  return out;
}

Bytes inputPacket(const std::vector<InputEvent>& events) {
  Bytes p{SessionPacket::kInput, uint8_t(events.size())};
  for (auto& e : events) e.appendTo(p);
  return p;
}

}  // namespace

TEST(HostConsent, AskedOnceAfterTwoSecondsOrAtProfileCompletion) {
  struct Case {
    const char* name;
    std::vector<std::string> profile;  // texts of kind 15, in order
    bool picture;                      // a kind 16 follows
    double askedAt;                    // seconds after creation
  } cases[] = {
      {"no profile", {}, false, 2.0},
      {"a name alone", {"Bob"}, false, 0.05},
      {"picture follows", {"Bob|Acme|b@x|1|1"}, false, 2.0},
      {"picture follows, then it comes", {"Bob|Acme|b@x|1|1"}, true, 0.05},
      {"two profiles", {"Bob", "Carol"}, true, 0.05},
  };
  for (const auto& c : cases) {
    HostRig rig;
    rig.make();
    for (auto& text : c.profile) rig.postText(15, text);
    if (c.picture) rig.post(16, profilePicture(2, 2, 12));
    rig.loop.advance(0.05);
    rig.loop.advance(c.askedAt - 0.05 - 0.001);
    EXPECT_EQ(rig.asked, c.askedAt < 0.1 ? 1 : 0) << c.name;
    rig.loop.advance(5);
    EXPECT_EQ(rig.asked, 1) << c.name;
  }
}

TEST(HostConsent, TheAnswersAndWhatEachLeadsTo) {
  struct Case {
    const char* name;
    bool unattended, ask;
    std::optional<Answer> answer;
    Phase phase;
    uint8_t status;  // first status byte, 0xFF for none
    int disconnects;
  } cases[] = {
      {"unattended: control at once", true, true, std::nullopt, Phase::running, 1, 0},
      {"control", false, true, Answer::control, Phase::running, 1, 0},
      {"view only", false, true, Answer::viewOnly, Phase::running, 0, 0},
      {"deny", false, true, Answer::deny, Phase::ended, 0xFF, 1},
      {"nobody to ask", false, false, std::nullopt, Phase::ended, 0xFF, 1},
  };
  for (const auto& c : cases) {
    HostRig rig;
    rig.make(c.unattended, c.ask);
    rig.loop.advance(2.0);
    if (c.answer) rig.answer(*c.answer);
    rig.loop.advance(0.1);
    EXPECT_EQ(rig.session->phase(), c.phase) << c.name;
    EXPECT_EQ(rig.disconnects, c.disconnects) << c.name;
    if (c.status == 0xFF) {
      EXPECT_TRUE(rig.statuses.empty()) << c.name;
      EXPECT_TRUE(rig.logged("[host] the session was declined")) << c.name;
    } else {
      ASSERT_FALSE(rig.statuses.empty()) << c.name;
      EXPECT_EQ(rig.statuses.front(), bytesOf({0x87, c.status, 0x01, 0x00})) << c.name;
    }
    if (c.unattended) {
      EXPECT_EQ(rig.asked, 0);
    }
  }
}

TEST(HostConsent, OnlyTheFirstAnswerCounts) {
  HostRig rig;
  rig.make();
  rig.allow(Answer::viewOnly);
  rig.answer(Answer::deny);
  rig.answer(Answer::control);
  rig.loop.advance(0.1);
  EXPECT_EQ(rig.session->phase(), Phase::running);
  EXPECT_EQ(rig.session->mode(), SessionMode::viewOnly);
  EXPECT_EQ(rig.disconnects, 0);
}

TEST(HostConsent, AnAnswerAfterTheSessionIsGoneDoesNothing) {
  HostRig rig;
  rig.make();
  rig.loop.advance(2.0);
  auto answer = rig.answer;
  rig.session.reset();
  answer(Answer::control);
  rig.loop.advance(0.1);
  EXPECT_TRUE(rig.statuses.empty());
}

TEST(HostConsent, NothingIsCapturedAnnouncedOrAppliedBeforeConsent) {
  HostRig rig;
  rig.make();
  rig.post(12, bytesOf({1}));
  rig.post(11, bytesOf({0x03}));
  rig.loop.advance(0.5);
  rig.raw(inputPacket({{1, InputEvent::move, 5, 5, 0}}));
  rig.raw(bytesOf({0x86}));
  rig.loop.advance(1.0);
  EXPECT_EQ(rig.platform.screen->starts, 0);
  EXPECT_EQ(rig.platform.sound->starts, 0);
  EXPECT_TRUE(rig.platform.input->events.empty());
  EXPECT_TRUE(rig.statuses.empty());
  EXPECT_TRUE(rig.inputAcks.empty());
  EXPECT_TRUE(rig.messagesOf(7).empty());
  EXPECT_TRUE(rig.messagesOf(10).empty());
  EXPECT_TRUE(rig.pictures.empty());

  rig.allow();
  EXPECT_EQ(rig.platform.screen->starts, 1);
  EXPECT_EQ(rig.platform.sound->starts, 1);  // sound was asked for before consent
  ASSERT_EQ(rig.messagesOf(10).size(), 1u);
  EXPECT_EQ(toString(rig.messagesOf(10)[0].data), "testbox|ada|Debian GNU/Linux 12 (bookworm)");
  ASSERT_EQ(rig.messagesOf(7).size(), 1u);
  EXPECT_EQ(rig.messagesOf(7)[0].data.size(), 1u + 17u);
  // Information before the monitor list.
  EXPECT_LT(std::find_if(rig.messages.begin(), rig.messages.end(), [](auto& m) { return m.kind == 10; }),
            std::find_if(rig.messages.begin(), rig.messages.end(), [](auto& m) { return m.kind == 7; }));
}

TEST(HostConsent, EarlyMessagesWaitThenRunInOrderAfterTheAnnouncementAndDieWithADenial) {
  for (Answer a : {Answer::control, Answer::deny}) {
    HostRig rig;
    rig.make();
    rig.postText(1, "hello");
    Bytes offer = bytesOf({7, 0, 0, 0});
    rig.post(3, offer);
    rig.postText(1, "are you there?");
    rig.loop.advance(1.0);
    EXPECT_TRUE(rig.session->chat().empty());
    rig.allow(a);
    rig.loop.advance(0.5);
    if (a == Answer::deny) {
      EXPECT_TRUE(rig.session->chat().empty());
      EXPECT_TRUE(rig.messages.empty());
      continue;
    }
    ASSERT_EQ(rig.session->chat().size(), 2u);
    EXPECT_EQ(rig.session->chat()[0].text, "hello");
    EXPECT_EQ(rig.session->chat()[1].text, "are you there?");
    EXPECT_EQ(rig.session->unreadChat(), 2);
    // Announcement, then the answers to the held offer.
    std::vector<uint8_t> kinds;
    for (auto& m : rig.messages) kinds.push_back(m.kind);
    EXPECT_EQ(kinds, (std::vector<uint8_t>{10, 7, 6, 1}));
    EXPECT_EQ(rig.messagesOf(6)[0].data, offer);
    EXPECT_EQ(rig.chatTexts(), std::vector<std::string>{"Receiving files is not in Plimo for Linux yet."});
  }
}

TEST(HostConsent, FloodBeforeConsentIsBoundedInCountAndBytes) {
  HostRig rig;
  rig.make();
  // More chat parts than may be held: each is a message of its own.
  for (size_t i = 0; i < EarlyMessages::kMaxMessages + 100; ++i) rig.post(1, bytesOf({'x'}), true);
  // The channel sends 64 at a time; let everything arrive before consent.
  rig.loop.advance(1.9);
  rig.allow();
  EXPECT_TRUE(rig.logged("[host] too many messages before consent; the rest are dropped"));
}

TEST(HostSession, AHelperChattingWithoutEndCannotFillTheHelpedPCsMemory) {
  HostRig rig;
  rig.make();
  rig.allow();
  for (size_t i = 0; i < kMaxChatLines + 5; ++i) rig.postText(1, "line " + std::to_string(i));
  rig.loop.advance(2.0);
  ASSERT_EQ(rig.session->chat().size(), kMaxChatLines);
  EXPECT_EQ(rig.session->chat().back().text, "line " + std::to_string(kMaxChatLines + 4));
  for (int i = 0; i < 6; ++i) rig.postText(1, std::string(1 << 20, char('a' + i)));
  rig.loop.advance(2.0);
  size_t bytes = 0;
  for (auto& line : rig.session->chat()) bytes += line.text.size();
  EXPECT_LE(bytes, kMaxTalkBytes);
  EXPECT_EQ(rig.session->chat().back().text[0], 'f');
}

TEST(HostSession, HelperTitleAndProfile) {
  HostRig rig;
  rig.make(false, true, "Server Name");
  EXPECT_EQ(rig.session->helperTitle(), "Server Name");
  rig.postText(15, "  Bob  | Acme |b@x|555|1");
  rig.loop.advance(0.05);
  EXPECT_EQ(rig.session->helperTitle(), "Bob, Acme");
  rig.postText(15, "|");
  rig.loop.advance(0.05);
  EXPECT_EQ(rig.session->helperTitle(), "Bob");

  HostRig nameless;
  nameless.make();
  EXPECT_EQ(nameless.session->helperTitle(), "A helper (123 456 789)");
}

TEST(HostSession, ProfilePicturesThatLieAboutTheirSizeGiveNoPictureButStillStartConsent) {
  struct Case {
    const char* name;
    Bytes payload;
    bool picture;
  } cases[] = {
      {"good", profilePicture(4, 2, 24), true},
      {"zero wide", profilePicture(0, 10, 0), false},
      {"too wide", profilePicture(257, 10, 257 * 30), false},
      {"too few pixels", profilePicture(4, 2, 23), false},
      {"inflates past its size (a zip bomb)", profilePicture(2, 2, 1 << 20), false},
      {"header only", bytesOf({4, 0, 2, 0}), false},
      {"garbage stream", bytesOf({4, 0, 2, 0, 1, 2, 3, 4, 5, 6, 7}), false},
      {"empty", {}, false},
  };
  for (auto& c : cases) {
    HostRig rig;
    rig.make();
    rig.postText(15, "Bob||||1");
    rig.post(16, c.payload);
    rig.loop.advance(0.05);
    EXPECT_EQ(rig.session->helperPicture().has_value(), c.picture) << c.name;
    EXPECT_EQ(rig.asked, 1) << c.name;
  }
}

TEST(HostSession, InputIsAppliedOnlyWhileRunningInControlAndNotPaused) {
  struct Case {
    const char* name;
    Answer answer;
    bool paused;
    bool applied;
  } cases[] = {
      {"control", Answer::control, false, true},
      {"view only", Answer::viewOnly, false, false},
      {"paused", Answer::control, true, false},
  };
  for (auto& c : cases) {
    HostRig rig;
    rig.platform.pictureSize = {1920, 1080};
    rig.make();
    rig.allow(c.answer);
    rig.session->setPaused(c.paused);
    rig.raw(inputPacket({{1, InputEvent::move, 10, 20, 0}, {2, InputEvent::keyDown, 0, 0, 0x41}}));
    EXPECT_EQ(!rig.platform.input->events.empty(), c.applied) << c.name;
    rig.loop.advance(0.05);
    ASSERT_FALSE(rig.inputAcks.empty()) << c.name;  // acknowledged in every case
    EXPECT_EQ(readLE<uint32_t>(rig.inputAcks.back(), 1), 2u) << c.name;
  }
}

TEST(HostSession, PauseReleasesHeldButtonsAndModifiersAndResumeWantsAFullPicture) {
  HostRig rig;
  rig.make();
  rig.allow();
  rig.raw(inputPacket({{1, InputEvent::buttonDown, 10, 10, 0}, {2, InputEvent::keyDown, 0, 0, 0x10}}));
  rig.platform.input->events.clear();
  rig.session->setPaused(true);
  EXPECT_EQ(rig.platform.input->events, (std::vector<std::string>{"button 1 up", "key 0xffe1 up"}));
  rig.loop.advance(0.05);
  EXPECT_EQ(rig.statuses.back(), bytesOf({0x87, 2, 0x01, 0x00}));
  rig.session->setPaused(false);
  rig.loop.advance(0.05);
  EXPECT_EQ(rig.statuses.back(), bytesOf({0x87, 1, 0x01, 0x00}));
}

TEST(HostSession, StatusPacketAtConsentAtTheFirstPassThenEveryTwoSeconds) {
  HostRig rig;
  rig.make(true);
  rig.loop.advance(2.0);  // consent at 2.0 s, the first pass at 2.008 (2 ms on the way)
  rig.loop.advance(0.012);
  EXPECT_EQ(rig.statuses.size(), 2u);  // consent, first pass
  rig.loop.advance(1.98);
  EXPECT_EQ(rig.statuses.size(), 2u);
  rig.loop.advance(0.02);
  EXPECT_EQ(rig.statuses.size(), 3u);
  rig.loop.advance(10);
  EXPECT_EQ(rig.statuses.size(), 8u);
  for (auto& s : rig.statuses) EXPECT_EQ(s.size(), 4u);
}

TEST(HostSession, AudioIsNumberedFromOneAndSkipsNoNumberWhilePausedOrMuted) {
  HostRig rig;
  rig.make();
  rig.post(12, bytesOf({1}));
  rig.allow();
  std::vector<float> packet(320, 0.25f);
  auto feed = [&] {
    rig.platform.sound->feed(packet);
    rig.loop.advance(0.01);
  };
  feed();
  feed();
  rig.session->setPaused(true);
  feed();
  rig.session->setPaused(false);
  rig.post(12, {});  // empty: sound off
  rig.loop.advance(0.05);
  feed();
  rig.post(12, bytesOf({1}));
  rig.loop.advance(0.05);
  feed();
  std::vector<uint32_t> seqs;
  for (auto& a : rig.audio) {
    EXPECT_EQ(a.size(), 325u);
    seqs.push_back(readLE<uint32_t>(a, 1));
  }
  EXPECT_EQ(seqs, (std::vector<uint32_t>{1, 2, 3}));
}

TEST(HostSession, ChatFromThisPCIsTrimmedAndNotesSendNothing) {
  HostRig rig;
  rig.make();
  rig.allow();
  rig.session->sendChat("  \n ");
  rig.session->sendChat("  on my way \n");
  rig.loop.advance(0.05);
  EXPECT_EQ(rig.chatTexts(), std::vector<std::string>{"on my way"});
  ASSERT_EQ(rig.session->chat().size(), 1u);
  EXPECT_TRUE(rig.session->chat()[0].fromMe);
  rig.session->setChatOpen(true);
  rig.postText(1, "thanks");
  rig.loop.advance(0.05);
  EXPECT_EQ(rig.session->unreadChat(), 0);
}

TEST(HostSession, RequestsAreAnsweredOnlyInControl) {
  for (Answer a : {Answer::control, Answer::viewOnly}) {
    HostRig rig;
    rig.make();
    rig.allow(a);
    rig.post(9);
    rig.post(18);
    rig.post(17);
    rig.loop.advance(0.1);
    const bool control = a == Answer::control;
    EXPECT_EQ(rig.messagesOf(19).size(), control ? 1u : 0u);
    EXPECT_EQ(rig.chatTexts().size(), control ? 1u : 0u);
    if (control) {
      EXPECT_EQ(rig.chatTexts()[0], "This PC can't be restarted from a distance; ask the person here to restart it.");
    }
  }
}

TEST(HostSession, BadInputChangesNothing) {
  HostRig rig;
  rig.platform.screens = {{1, {0, 0, 1920, 1080}, true}, {2, {1920, 0, 1280, 1024}, false}};
  rig.make();
  rig.allow();
  rig.loop.advance(0.1);
  const size_t sent = rig.messages.size();
  const int starts = rig.platform.screen->starts;
  const std::vector<Bytes> garbage = {
      {},
      bytesOf({0x88}),
      bytesOf({0x88, 1, 0, 0}),
      bytesOf({0x89, 1}),
      bytesOf({0x82}),
      bytesOf({0x83, 1, 2}),
      bytesOf({0x84}),
      bytesOf({0x84, 0}),
      bytesOf({0x84, 91}),
      bytesOf({0x84, 2, 1, 0, 0, 0, 1}),
      bytesOf({0x7F, 'B', 'Y', 'E'}),
      bytesOf({0xFF, 0xFF}),
  };
  for (auto& g : garbage) rig.raw(g);
  rig.post(8, bytesOf({2}));  // index = count of screens
  rig.post(8, {});
  rig.post(3, bytesOf({1, 2, 3}));  // a file offer too short to name itself
  rig.post(200, bytesOf({1}));
  rig.loop.advance(0.2);
  EXPECT_EQ(rig.platform.screen->starts, starts);
  EXPECT_EQ(rig.messages.size(), sent);
  EXPECT_TRUE(rig.platform.input->events.empty());
  EXPECT_EQ(rig.session->phase(), Phase::running);

  rig.post(8, bytesOf({1}));
  rig.loop.advance(0.05);
  EXPECT_EQ(rig.platform.screen->starts, starts + 1);
  EXPECT_EQ(rig.platform.screen->display()->id, 2u);
}

TEST(HostSession, PointerStaysOnTheSharedScreenAndUnknownButtonsAreIgnored) {
  HostRig rig;
  rig.platform.screens = {{1, {1920, 0, 1280, 1024}, true}};
  rig.platform.pictureSize = {1280, 1024};
  rig.make();
  rig.allow();
  rig.raw(inputPacket({{1, InputEvent::move, -500, 30000, 0},
                       {2, InputEvent::buttonDown, 10, 10, 7},
                       {3, InputEvent::buttonUp, 10, 10, -1},
                       {4, InputEvent::move, 1280, 1024, 0}}));
  EXPECT_EQ(rig.platform.input->events, (std::vector<std::string>{"move 1920,1023", "move 3199,1023"}));
}

// No screen, a capture that fails to start and one that stops later: the
// person here gets the problem and a notice, the helper a chat text instead
// of a picture that never comes, and the log says why; requests are still
// answered.
TEST(HostSession, AScreenThatCannotBeSharedIsToldToBothPeopleAndLogged) {
  auto noScreens = [](HostRig& r) { r.platform.screens = {}; };
  auto failStart = [](HostRig& r) {
    r.platform.screen->failNext = Failure(Failure::Kind::noServer, "The X display cannot be reached");
  };
  auto stopLater = [](HostRig& r) { r.platform.screen->die("the X display closed the connection"); };
  struct Case {
    const char* name;
    std::function<void(HostRig&)> beforeMake, beforeAllow, afterAllow;
    std::string problem, log, helper;
  } cases[] = {
      {"no screen", noScreens, nullptr, nullptr, "No screen found to share.", "[host] no screen found to share",
       "The helped PC has no screen to share."},
      {"capture fails", nullptr, failStart, nullptr,
       "Plimo cannot share the screen of this PC (The X display cannot be reached).",
       "[host] capture failed: The X display cannot be reached",
       "The helped PC cannot share its screen (The X display cannot be reached)."},
      {"capture stops", nullptr, nullptr, stopLater,
       "Sharing the screen stopped (the X display closed the connection).",
       "[host] capture stopped: the X display closed the connection",
       "Sharing the screen stopped on the helped PC (the X display closed the connection)."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HostRig rig;
    if (c.beforeMake) c.beforeMake(rig);
    rig.make();
    rig.loop.advance(0.01);
    if (c.beforeAllow) c.beforeAllow(rig);
    rig.allow();
    if (c.afterAllow) {
      EXPECT_EQ(rig.session->captureProblem(), "");
      c.afterAllow(rig);
    }
    rig.loop.advance(0.1);
    EXPECT_EQ(rig.session->captureProblem(), c.problem);
    EXPECT_TRUE(rig.logged(c.log));
    EXPECT_EQ(rig.chatTexts(), std::vector<std::string>{c.helper});
    ASSERT_EQ(rig.session->chat().size(), 1u);
    EXPECT_EQ(rig.session->chat()[0].text, "\u24D8 " + c.problem);
    rig.post(3, bytesOf({1, 0, 0, 0}));
    rig.loop.advance(0.1);
    EXPECT_EQ(rig.messagesOf(6).size(), 1u);
  }
}

// The person here stopping the sharing from the desktop's own indicator
// ends the session as a Stop would, the helper told why.
TEST(HostSession, SharingEndedFromTheDesktopEndsTheSessionWithATextForTheHelper) {
  HostRig rig;
  rig.make();
  rig.allow();
  rig.platform.screen->endSharing("the person at the PC stopped sharing the screen");
  EXPECT_EQ(rig.disconnects, 0);  // on the session's thread, not the capture's
  rig.loop.advance(0.1);
  EXPECT_EQ(rig.chatTexts(), std::vector<std::string>{"The helped PC ended the session: the person at the PC "
                                                      "stopped sharing the screen."});
  EXPECT_TRUE(rig.logged("[host] sharing ended here: the person at the PC stopped sharing the screen"));
  EXPECT_EQ(rig.disconnects, 1);
}

// A desktop that asks the person once more after Plimo's question (Wayland's
// portal) answers when the person does: meanwhile the session keeps sending
// its status and reading the helper's chat, and shares only once answered;
// a Stop while it asks ends the asking, and an answer after the session is
// gone does nothing.
TEST(HostSession, ADesktopThatAsksAgainIsWaitedForWithoutHoldingTheSession) {
  enum class Then { answer, stop, drop };
  for (Then then : {Then::answer, Then::stop, Then::drop}) {
    SCOPED_TRACE(int(then));
    HostRig rig;
    rig.platform.desktopAsks = true;
    rig.make();
    rig.allow();
    rig.postText(1, "still there?");
    rig.loop.advance(4.0);
    EXPECT_EQ(rig.platform.screen->starts, 0);
    EXPECT_TRUE(rig.messagesOf(7).empty());
    EXPECT_GE(rig.statuses.size(), 3u);
    ASSERT_FALSE(rig.session->chat().empty());
    EXPECT_EQ(rig.session->chat().back().text, "still there?");
    EXPECT_FALSE(rig.platform.asking.expired());
    EXPECT_NE(std::find(rig.logs.begin(), rig.logs.end(),
                        "[host] the desktop asks the person at this PC once more, in its own dialog"),
              rig.logs.end());
    if (then == Then::stop) rig.session->close();
    if (then == Then::drop) rig.session.reset();
    EXPECT_EQ(rig.platform.asking.expired(), then != Then::answer);
    rig.platform.answerDesktop();
    rig.loop.advance(0.05);
    if (then == Then::drop) continue;
    EXPECT_EQ(rig.platform.screen->starts, then == Then::answer ? 1 : 0);
    EXPECT_EQ(rig.messagesOf(7).size(), then == Then::answer ? 1u : 0u);
  }
}

TEST(HostSession, ControlWithoutXTestIsNotedInTheChat) {
  HostRig rig;
  rig.platform.noInput = true;
  rig.make();
  rig.allow();
  ASSERT_EQ(rig.session->chat().size(), 1u);
  EXPECT_NE(rig.session->chat()[0].text.find("XTEST"), std::string::npos);
}

TEST(HostSession, ClosedFromInsideItsOwnAllowedCallback) {
  HostRig rig;
  rig.make();
  rig.onAllowed = [&] { rig.session->close(); };
  rig.allow();
  EXPECT_EQ(rig.session->phase(), Phase::ended);
  rig.loop.advance(1.0);
  EXPECT_TRUE(rig.messagesOf(10).empty());
}
