// The model's partner sessions: a helper arrives, is asked about, let in or
// turned away; a takeover is a new session; questions from one ID are
// limited; the headless answers (a terminal prompt, or nobody to ask); and
// this PC helping another through a viewer session.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include "ModelRig.h"
#include "app/ConsentPrompt.h"
#include "app/HeadlessConsent.h"
#include "app/TerminalTalk.h"
#include "app/ViewerWindows.h"
#include "platform/fake/FakePlatform.h"
#include "testkit/FakePartner.h"
#include "testkit/PlimoClientTestKit.h"
#include "testkit/ViewerRig.h"

using namespace plimo;
using namespace plimo::testkit;
using Light = AppModel::Light;
using Answer = HostSession::Answer;

namespace {

struct HostFixture : LinkFixture {
  FakePlatform platform;
  struct Question {
    std::string title;
    HostSession::AnswerFn answer;
  };
  std::vector<Question> questions;

  void registered(const std::string& iniText = "[Relay]\nHost=relay.example\n") {
    start(iniText);
    model->sessions().setHost(platform, [this](HostSession& s, HostSession::AnswerFn a) {
      questions.push_back({s.helperTitle(), std::move(a)});
    });
    welcome();
    say("ID 111222333 3600");
    lines();
  }
  // The server introduces `p` as a helper and the helper's punch arrives.
  void arrives(FakePartner& p, const std::string& name) {
    say(p.peerLine(PlimoClientTestKit(*AppModelTestKit{*model}.client()).peerKey().publicKey(), " " + name + " U"));
    UdpRecord::deliver(sockets.udp.back(), p.seal("PUNCHACK"), p.publicAddress);
    loop.runPending();
  }
  // This PC asks for `p`, and `p`'s punch answers.
  void helps(FakePartner& p) {
    model->setPartnerID(p.id);
    model->connect();
    say(p.peerLine(PlimoClientTestKit(*AppModelTestKit{*model}.client()).peerKey().publicKey()));
    UdpRecord::deliver(sockets.udp.back(), p.seal("PUNCHACK"), p.publicAddress);
    loop.runPending();
  }
  bool logged(const std::string& line) {
    std::string text = readFile(model->logURL);
    return text.find(line) != std::string::npos;
  }
};

}  // namespace

TEST_F(HostFixture, AHelperIsAskedAboutThenLetInWithTheTextsOfThisPC) {
  registered();
  FakePartner bob;
  arrives(bob, "Bob");
  ASSERT_TRUE(model->sessions().hostSession());
  EXPECT_EQ(model->sessions().sessionLight().get(), Light::amber);
  EXPECT_EQ(model->sessions().sessionTitle().get(), "Connected to 987 654 321");
  EXPECT_EQ(model->sessions().sessionDetail().get(), "Bob wants to help this PC. Direct link, AES-256 encrypted.");
  const Bytes ownKey = PlimoClientTestKit(*AppModelTestKit{*model}.client()).peerKey().publicKey();
  EXPECT_EQ(model->sessions().keyFingerprints().get(),
            "This PC's key: " + PlimoCrypto::keyFingerprint(ownKey, 32) +
                "\nThe partner's key: " + PlimoCrypto::keyFingerprint(bob.key.publicKey(), 32));
  EXPECT_TRUE(questions.empty());
  loop.advance(2.0);
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0].title, "Bob");
  questions[0].answer(Answer::control);
  EXPECT_EQ(model->sessions().sessionLight().get(), Light::green);
  EXPECT_EQ(model->sessions().sessionTitle().get(), "Being helped by Bob");
  EXPECT_EQ(model->sessions().sessionDetail().get(),
            "Your helper may use this PC. Pause or Stop in the bar at the top of the screen.");
  EXPECT_EQ(platform.screen->starts, 1);
}

// The person here learns it in the main window, not only in a chat they may
// never open; a screen shared again brings the usual text back.
TEST_F(HostFixture, AScreenThatCannotBeSharedIsSaidInTheMainWindow) {
  registered();
  FakePartner bob;
  arrives(bob, "Bob");
  loop.advance(2.0);
  ASSERT_EQ(questions.size(), 1u);
  platform.screen->failNext = Failure(Failure::Kind::noServer, "The X display cannot be reached");
  questions[0].answer(Answer::control);
  EXPECT_EQ(model->sessions().sessionLight().get(), Light::amber);
  EXPECT_EQ(model->sessions().sessionDetail().get(), model->sessions().hostSession()->captureProblem());
  EXPECT_NE(model->sessions().sessionDetail().get().find("cannot share the screen"), std::string::npos);
  EXPECT_TRUE(logged("[host] capture failed: The X display cannot be reached"));
}

TEST_F(HostFixture, UnattendedAccessLetsTheHelperInWithoutAQuestion) {
  registered("[Relay]\nHost=relay.example\n[Session]\nUnattended=1\n");
  FakePartner bob;
  arrives(bob, "Bob");
  loop.advance(2.1);
  EXPECT_TRUE(questions.empty());
  ASSERT_TRUE(model->sessions().hostSession());
  EXPECT_EQ(model->sessions().hostSession()->phase(), HostSession::Phase::running);
  EXPECT_EQ(model->sessions().sessionTitle().get(), "Being helped by Bob");
}

// The other way round: this PC helps. The viewer session starts with the
// link, greets, asks for its first picture, hears the host, and ends with it.
TEST_F(HostFixture, HelpingAPartnerStartsTheViewerSessionWithItsTextsAndEndsWithTheLink) {
  registered();
  FakePartner alice;
  helps(alice);
  ASSERT_TRUE(model->sessions().viewerSession());
  EXPECT_FALSE(model->sessions().hostSession());
  EXPECT_EQ(model->sessions().sessionLight().get(), Light::green);
  EXPECT_EQ(model->sessions().sessionTitle().get(), "Connected to 987 654 321");
  EXPECT_EQ(model->sessions().sessionDetail().get(), "You are helping this PC. Direct link, AES-256 encrypted.");
  EXPECT_EQ(model->sessions().checkNumber().get(), model->sessions().viewerSession()->checkNumber());
  EXPECT_NE(model->sessions().checkNumber().get(), "--- ---");
  std::vector<Bytes> toAlice;
  for (auto& d : sockets.udp.back()->sent)
    if (d.to == alice.publicAddress)
      if (auto plain = alice.open(d.data)) toAlice.push_back(*plain);
  ASSERT_FALSE(toAlice.empty());
  EXPECT_NE(std::find(toAlice.begin(), toAlice.end(), toBytes("MSG Hello from 111 222 333")), toAlice.end());
  EXPECT_NE(std::find(toAlice.begin(), toAlice.end(), Bytes{0x86}), toAlice.end());
  // The host's status reaches the session.
  UdpRecord::deliver(sockets.udp.back(), alice.seal(Bytes{0x87, 1, 1}), alice.publicAddress);
  loop.runPending();
  EXPECT_EQ(model->sessions().viewerSession()->mode().get(), SessionMode::control);
  EXPECT_TRUE(logged("Session mode 1"));
  UdpRecord::deliver(sockets.udp.back(), alice.seal("BYE"), alice.publicAddress);
  loop.runPending();
  EXPECT_FALSE(model->sessions().viewerSession());
  EXPECT_EQ(model->sessions().sessionLight().get(), Light::grey);
  EXPECT_EQ(model->sessions().sessionTitle().get(), "No active session");
  EXPECT_EQ(model->sessions().sessionDetail().get(), "The last session has ended");
  EXPECT_EQ(model->sessions().checkNumber().get(), "--- ---");
}

// The helper's window opens with the viewer session, draws its pictures and
// closes before the session does; the window's own end disconnects.
TEST_F(HostFixture, TheHelpersWindowOpensWithTheSessionAndClosesBeforeIt) {
  struct Windows final : ViewerWindows {
    AppModel* model = nullptr;
    LatestPicture display;
    std::vector<std::string> calls;
    ViewerSession* session = nullptr;
    std::function<void()> disconnect;
    ScreenDisplay& showViewer(ViewerSession& s, const Facts& facts, std::function<void()> d) override {
      calls.push_back("show " + facts.partnerName + (facts.viaRelay ? " relayed" : " direct"));
      session = &s;
      disconnect = std::move(d);
      return display;
    }
    void closeViewer() override {
      // Held keys go out while the session still runs.
      calls.push_back(model->sessions().viewerSession() == session ? "close while running" : "close after the session");
    }
  } windows;
  registered();
  windows.model = model.get();
  model->sessions().setViewerWindows(&windows);
  FakePartner alice;
  auto help = [&] {
    model->setPartnerID(alice.id);
    model->connect();
    model->rename(model->recent().get().front(), "Alice");
    say(alice.peerLine(PlimoClientTestKit(*AppModelTestKit{*model}.client()).peerKey().publicKey()));
    UdpRecord::deliver(sockets.udp.back(), alice.seal("PUNCHACK"), alice.publicAddress);
    loop.runPending();
  };
  help();
  ASSERT_TRUE(model->sessions().viewerSession());
  EXPECT_EQ(windows.session, model->sessions().viewerSession());
  EXPECT_EQ(windows.calls, std::vector<std::string>{"show Alice direct"});
  UdpRecord::deliver(sockets.udp.back(),
                     alice.seal(chunk(SessionPacket::kFrameChunk, 1, 0, 1, frame(0, update(8, 6, 8, 6)))),
                     alice.publicAddress);
  loop.runPending();
  EXPECT_EQ(windows.display.shown(), 1);
  UdpRecord::deliver(sockets.udp.back(), alice.seal("BYE"), alice.publicAddress);
  loop.runPending();
  EXPECT_FALSE(model->sessions().viewerSession());
  EXPECT_EQ(windows.calls, (std::vector<std::string>{"show Alice direct", "close while running"}));

  // The helper closes the window: the partner hears BYE and the session ends.
  help();
  ASSERT_TRUE(model->sessions().viewerSession());
  size_t sentBefore = sockets.udp.back()->sent.size();
  windows.disconnect();
  EXPECT_FALSE(model->sessions().viewerSession());
  EXPECT_EQ(model->sessions().sessionTitle().get(), "No active session");
  bool bye = false;
  for (size_t i = sentBefore; i < sockets.udp.back()->sent.size(); ++i)
    if (auto plain = alice.open(sockets.udp.back()->sent[i].data)) bye |= *plain == toBytes("BYE");
  EXPECT_TRUE(bye);
}

// A headless PC prints the partner's chat and notices on its terminal: the
// partner's escapes arrive there as visible text, on both sides.
TEST_F(HostFixture, ThePartnersChatReachesAHeadlessTerminalAsPlainText) {
  int master = -1, slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  std::FILE* terminal = fdopen(slave, "w");
  ASSERT_NE(terminal, nullptr);
  fcntl(master, F_SETFL, O_NONBLOCK);
  auto shown = [&] {
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) out.append(buffer, size_t(n));
    return out;
  };
  const std::string hostile = "hi\x1b[2J\x1b]0;owned\x07\r\nCheck number: 999 999\xC2\x9B" "31m";
  Bytes chat{SessionPacket::kChannelMsg, 1, 0, 0, 0, MsgKind::chat, 0};
  chat.insert(chat.end(), hostile.begin(), hostile.end());

  registered("[Relay]\nHost=relay.example\n[Session]\nUnattended=1\n");
  say("PIN OK 111222333");
  LatestPicture picture;
  TerminalTalk talk(loop, picture, terminal, [this](const std::string& line) { model->log(line); });
  model->sessions().setWindows(&talk);
  model->sessions().setViewerWindows(&talk);
  FakePartner bob;
  arrives(bob, "Bob");
  loop.advance(2.1);
  UdpRecord::deliver(sockets.udp.back(), bob.seal(chat), bob.publicAddress);
  loop.advance(0.3);
  std::string out = shown();
  EXPECT_NE(out.find("Helper: hi\\x1b[2J\\x1b]0;owned\\x07\\x0d\\x0aCheck number: 999 999\\x9b31m\r\n"),
            std::string::npos) << out;
  UdpRecord::deliver(sockets.udp.back(), bob.seal("BYE"), bob.publicAddress);
  loop.runPending();

  FakePartner alice;
  helps(alice);
  ASSERT_TRUE(model->sessions().viewerSession());
  UdpRecord::deliver(sockets.udp.back(), alice.seal(chat), alice.publicAddress);
  loop.runPending();
  out += shown();
  for (char c : {'\x1b', '\x07'}) EXPECT_EQ(out.find(c), std::string::npos) << int(c);
  EXPECT_EQ(out.find("\xC2\x9B"), std::string::npos);
  EXPECT_NE(out.find("Partner: hi\\x1b[2J"), std::string::npos) << out;
  EXPECT_TRUE(logged("Partner: hi\\x1b[2J"));
  model->sessions().setWindows(nullptr);
  model->sessions().setViewerWindows(nullptr);
  std::fclose(terminal);
  close(master);
}

TEST_F(HostFixture, ADeniedHelperIsDisconnectedAndTheSessionEnds) {
  registered();
  FakePartner bob;
  arrives(bob, "Bob");
  loop.advance(2.0);
  ASSERT_EQ(questions.size(), 1u);
  questions[0].answer(Answer::deny);
  loop.runPending();
  EXPECT_FALSE(model->sessions().hostSession());
  EXPECT_EQ(AppModelTestKit{*model}.client()->state(), PlimoClient::State::registered);
  EXPECT_EQ(model->sessions().sessionTitle().get(), "No active session");
  EXPECT_TRUE(logged("[host] the session was declined"));
}

TEST_F(HostFixture, ANewPartnerAfterATakeoverIsANewSessionAskedAgain) {
  registered();
  FakePartner bob;
  arrives(bob, "Bob");
  loop.advance(2.0);
  ASSERT_EQ(questions.size(), 1u);
  questions[0].answer(Answer::control);

  FakePartner mallory;
  mallory.id = "555666777";
  mallory.publicAddress = {"192.0.2.50", 41000};
  loop.advance(12.5);  // Bob fell silent: the server's new introduction takes over
  arrives(mallory, "Mallory");
  ASSERT_TRUE(model->sessions().hostSession());
  // Not the old address: a new session may be built where the old one lay.
  EXPECT_EQ(model->sessions().hostSession()->partnerID(), mallory.id);
  EXPECT_EQ(model->sessions().hostSession()->phase(), HostSession::Phase::asking);
  EXPECT_EQ(model->sessions().sessionDetail().get(), "Mallory wants to help this PC. Direct link, AES-256 encrypted.");
  loop.advance(2.0);
  ASSERT_EQ(questions.size(), 2u);
  EXPECT_EQ(questions[1].title, "Mallory");
  // Bob's old answer callback cannot let Mallory in.
  questions[0].answer(Answer::control);
  EXPECT_EQ(model->sessions().hostSession()->phase(), HostSession::Phase::asking);
}

TEST_F(HostFixture, ConsentQuestionsFromOneIDAreLimitedToThreeAMinute) {
  registered();
  FakePartner bob;
  for (int attempt = 0; attempt < 4; ++attempt) {
    arrives(bob, "Bob");
    loop.advance(2.0);
    if (attempt < 3) {
      ASSERT_EQ(questions.size(), size_t(attempt + 1));
      questions.back().answer(Answer::deny);
    }
    loop.runPending();
    EXPECT_FALSE(model->sessions().hostSession()) << attempt;
    loop.advance(1.0);
  }
  EXPECT_EQ(questions.size(), 3u);
  EXPECT_TRUE(logged("[host] 987 654 321 asked too often; declined without asking"));
  loop.advance(60);
  arrives(bob, "Bob");
  loop.advance(2.0);
  EXPECT_EQ(questions.size(), 4u);
}

TEST_F(HostFixture, WithoutATerminalNobodyCanAnswerAndTheLogSaysHowToLetHelpersIn) {
  start();
  HeadlessConsent consent(loop, *model, false);
  model->sessions().setHost(platform, consent.asker());
  welcome();
  say("ID 111222333 3600");
  lines();
  FakePartner bob;
  arrives(bob, "Bob");
  loop.advance(2.0);
  loop.runPending();
  EXPECT_FALSE(model->sessions().hostSession());
  EXPECT_TRUE(logged("[host] nobody is at this PC to answer, so Bob was declined. To let helpers in without asking, "
                     "set Unattended=1 in the [Session] section of " +
                     (dir / "Plimo.ini").string() + "."));
}

TEST(ConsentPrompt, TypedAnswersAndTheThirtySecondCountdown) {
  struct Case {
    const char* name;
    std::vector<std::string> typed;  // one a second
    std::optional<Answer> answer;
    double after;                    // seconds when it came
  } cases[] = {
      {"control", {"c"}, Answer::control, 0},
      {"view only", {" View only "}, Answer::viewOnly, 0},
      {"deny", {"D"}, Answer::deny, 0},
      {"nonsense, then an answer", {"yes please", "v"}, Answer::viewOnly, 1},
      {"no answer", {}, Answer::deny, 30},
  };
  for (auto& c : cases) {
    ManualLoop loop;
    std::string out;
    ConsentPrompt prompt(loop, [&](const std::string& text) { out += text; });
    std::optional<Answer> got;
    double at = -1;
    int calls = 0;
    prompt.ask("Bob, Acme", "417 203", [&](Answer a) {
      got = a;
      at = loop.now() - 1000;
      ++calls;
    });
    EXPECT_NE(out.find("Bob, Acme wants to help this PC\nCheck number: 417 203\n"), std::string::npos) << c.name;
    EXPECT_NE(out.find("No answer in 30 s means Deny."), std::string::npos) << c.name;
    for (size_t i = 0; i < c.typed.size(); ++i) {
      if (i > 0) loop.advance(1.0);
      prompt.typed(c.typed[i]);
    }
    loop.advance(29.9 - (c.typed.empty() ? 0 : double(c.typed.size() - 1)));
    if (c.typed.empty()) {
      EXPECT_FALSE(got) << c.name;
    }
    loop.advance(0.2);
    EXPECT_EQ(got, c.answer) << c.name;
    EXPECT_NEAR(at, c.after, 0.01) << c.name;
    prompt.typed("c");  // only the first answer counts
    loop.advance(40);
    EXPECT_EQ(calls, 1) << c.name;
  }
}

// The title is the helper's: it must not clear the screen, print a check
// number of its own, conceal the real one, write to the clipboard (OSC 52)
// or turn the line around.
TEST(ConsentPrompt, AHelperNameWithEscapesCannotHideTheCheckNumberOnTheTerminal) {
  ManualLoop loop;
  std::string out;
  ConsentPrompt prompt(loop, [&](const std::string& text) { out += text; });
  const std::string title = "Bob\x1b[2J\x1b[H\nCheck number: 999 999\r\x1b[8m\x1b]52;c;ZWNobyBwd25lZA==\x07"
                            "\xC2\x9B" "8m\xE2\x80\xAE";
  prompt.ask(title, "417 203", [](Answer) {});
  for (char c : {'\x1b', '\r', '\x07'}) EXPECT_EQ(out.find(c), std::string::npos) << int(c);
  EXPECT_EQ(out.find("\xC2\x9B"), std::string::npos);
  EXPECT_EQ(out.find("\xE2\x80\xAE"), std::string::npos);
  EXPECT_NE(out.find("\nBob\\x1b[2J\\x1b[H\\x0aCheck number: 999 999\\x0d\\x1b[8m\\x1b]52;c;"), std::string::npos)
      << out;
  // The only line that starts with a check number is the real one.
  EXPECT_EQ(out.find("\nCheck number: "), out.find("\nCheck number: 417 203\n")) << out;
}

// Where the desktop asks once more in its own dialog (Wayland), the question
// says so before the answers; elsewhere it does not.
TEST(ConsentPrompt, SaysTheDesktopWillAskOnceMoreOnlyWhereItWill) {
  for (bool desktopAsks : {false, true}) {
    ManualLoop loop;
    std::string out;
    ConsentPrompt prompt(loop, [&](const std::string& text) { out += text; }, desktopAsks);
    prompt.ask("Bob", "417 203", [](Answer) {});
    const size_t said = out.find(std::string("\n") + ConsentQuestion::kDesktopAsks + "\nType c");
    EXPECT_EQ(said != std::string::npos, desktopAsks) << out;
  }
}

TEST(ConsentGate, ThreeQuestionsAMinutePerPartner) {
  ConsentGate gate;
  const std::vector<std::tuple<const char*, double, bool>> schedule = {
      {"111111111", 0, true},  {"111111111", 1, true},  {"111111111", 2, true}, {"111111111", 3, false},
      {"222222222", 3, true},  {"111111111", 59.9, false}, {"111111111", 60, true}, {"111111111", 60.5, false},
  };
  for (auto& [id, at, allowed] : schedule) EXPECT_EQ(gate.mayAsk(id, at), allowed) << id << " at " << at;
}
