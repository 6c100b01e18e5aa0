// What the model knows, as the windows show it, one state after another:
// the server test, the pinned key and its forgetting, the kept ID, the
// Super-as-Ctrl switch, the permissions, a failed session's way to the
// connection test and its findings, and the helped PC's own notices in its
// chat. A screenshot of each.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTimer>

#include "app/ModelRig.h"
#include "gui/Shots.h"
#include "host/HostRig.h"
#include "platform/fake/FakePlatform.h"
#include "testkit/FakePartner.h"
#include "testkit/PlimoClientTestKit.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "ui/ConnectionTestWindow.h"
#include "ui/HostChat.h"
#include "ui/MainWindow.h"
#include "ui/SettingsWindow.h"

namespace plimo {
namespace {

using testing::shoot;

std::string labelText(QWidget& window, const char* name) {
  auto* label = window.findChild<QLabel*>(name);
  return label ? label->text().toStdString() : "<no " + std::string(name) + ">";
}

void click(QWidget& window, const char* name) {
  auto* button = window.findChild<QPushButton*>(name);
  ASSERT_TRUE(button) << name;
  QTest::mouseClick(button, Qt::LeftButton);
}

// The next message box that opens is shot and answered with the button of `role`.
void answerNextBox(QMessageBox::ButtonRole role, const QString& shot) {
  QTimer::singleShot(0, [role, shot] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_TRUE(box);
    shoot(*box, shot);
    for (QAbstractButton* b : box->buttons())
      if (box->buttonRole(b) == role) return b->click();
    FAIL() << "no such button";
  });
}

struct ModelStates : testkit::LinkFixture {
  void registered(const std::string& iniMore = "") {
    start("[Relay]\nHost=relay.example\n" + iniMore);
    welcome();
    say("ID 555000111 3600");
    lines();
  }
  // The token of the PING the server test sent.
  std::string pingToken() {
    for (const auto& line : lines())
      if (line.starts_with("PING ")) return line.substr(5);
    return {};
  }
};

TEST_F(ModelStates, TheSettingsShowTheServerTestTheKeyAndTheKeptID) {
  registered();
  SettingsWindow window(*model);
  window.show();
  const std::string firstKey = PlimoCrypto::keyFingerprint(server.longTerm.publicKey());
  SigningKey reinstalled = SigningKey::generate();
  struct State {
    const char* name;
    std::function<void()> act;
    std::string key, id, answer;
  };
  const State states[] = {
      {"settings-link-registered", [] {}, firstKey, "555 000 111, not kept", ""},
      {"settings-id-kept",
       [&] {
         model->setKeepID(true);
         say("PIN OK 555000111");
       },
       firstKey, "555 000 111, kept", ""},
      {"settings-server-answered",
       [&] {
         click(window, "testServer");
         std::string token = pingToken();
         loop.advance(0.5);
         say("PONG " + token + " 1.4 12 3d");
       },
       firstKey, "555 000 111, kept", "Server answered in 500 ms: server 1.4, 12 online, up 3d"},
      {"settings-server-silent",
       [&] {
         click(window, "testServer");
         loop.advance(6);
       },
       firstKey, "555 000 111, kept",
       "No answer from the server. Check that it runs and that UDP port 47800 is open in its firewall."},
      {"settings-forget-cancelled",
       [&] {
         answerNextBox(QMessageBox::RejectRole, "settings-forget-key-warning");
         click(window, "forgetKey");
       },
       firstKey, "555 000 111, kept", ""},
      {"settings-key-forgotten",
       [&] {
         answerNextBox(QMessageBox::DestructiveRole, "settings-forget-key-warning");
         click(window, "forgetKey");
       },
       "(none)", "none yet", ""},
      {"settings-new-key-pinned",
       [&] {
         loop.advance(2.1);
         auto all = sent();
         for (auto it = all.rbegin(); it != all.rend(); ++it)
           if (testkit::FakeRelayServer::isHandshake(*it)) {
             deliver(server.welcome(*it, &reinstalled));
             break;
           }
         read = sent().size();
         say("ID 555000111 pinned");
       },
       PlimoCrypto::keyFingerprint(reinstalled.publicKey()), "555 000 111, kept", ""},
  };
  for (const State& s : states) {
    SCOPED_TRACE(s.name);
    s.act();
    EXPECT_EQ(labelText(window, "serverKey"), s.key);
    EXPECT_EQ(labelText(window, "idState"), s.id);
    if (!s.answer.empty()) {
      EXPECT_EQ(labelText(window, "serverAnswer"), s.answer);
    }
    shoot(window, s.name);
  }
  EXPECT_EQ(iniValue("Relay", "Key"), PlimoCrypto::hex(reinstalled.publicKey()));
}

TEST_F(ModelStates, TheSuperKeySwitchIsSavedAndTheHelpersCtrlHasNone) {
  registered("[Mac]\nCommandAsControl=0\nHelperCtrlAsCommand=0\n");
  SettingsWindow window(*model);
  window.show();
  auto boxes = window.findChildren<QCheckBox*>();
  QCheckBox* superAsCtrl = nullptr;
  for (QCheckBox* box : boxes) {
    EXPECT_FALSE(box->text().contains("helper's Ctrl")) << box->text().toStdString();
    if (box->text() == "Send my Super key as Ctrl") superAsCtrl = box;
  }
  ASSERT_TRUE(superAsCtrl);
  EXPECT_FALSE(superAsCtrl->isChecked());
  superAsCtrl->setChecked(true);
  window.save();
  EXPECT_TRUE(model->settings().get().commandAsControl);
  EXPECT_EQ(iniValue("Mac", "CommandAsControl"), "1");
  EXPECT_EQ(iniValue("Mac", "HelperCtrlAsCommand"), "0");
  shoot(window, "settings-super-as-ctrl");
}

// The clipboard switch shows what the PC's kind gives and writes the setting
// only once it is changed, so an unattended PC never gets it by a save.
TEST_F(ModelStates, TheClipboardSwitchIsWrittenOnlyWhenChanged) {
  registered("[ID]\nSecret=" + std::string(64, 'C') + "\n[Session]\nUnattended=1\n");
  SettingsWindow window(*model);
  window.show();
  auto* box = window.findChild<QCheckBox*>("shareClipboard");
  ASSERT_TRUE(box);
  EXPECT_FALSE(box->isChecked()) << "off on an unattended PC";
  window.save();
  EXPECT_EQ(iniValue("Session", "Clipboard"), "<none>");
  box->setChecked(true);
  window.save();
  EXPECT_EQ(iniValue("Session", "Clipboard"), "1");
}

TEST_F(ModelStates, TheMainWindowSaysWhatThisPCLacksWhenItComesToTheFront) {
  registered();
  QWidget settings, help;
  ConnectionTestWindow test(*model);
  MainWindow window(*model, &settings, &help, &test);
  window.show();
  struct State {
    const char* name;
    bool screen, control;
  };
  for (State s : {State{"main-window-no-screen", false, true}, State{"main-window-no-xtest", true, false},
                  State{"main-window-nothing-lacks", true, true}}) {
    SCOPED_TRACE(s.name);
    system.screen = s.screen;
    system.control = s.control;
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&window, &activate);
    EXPECT_EQ(window.findChild<QLabel*>("noScreen")->isVisibleTo(&window), !s.screen);
    EXPECT_EQ(window.findChild<QLabel*>("noControl")->isVisibleTo(&window), !s.control);
    shoot(window, s.name);
  }
}

// A helper in, as the helped person sees it: the check number with both
// keys' whole fingerprints, then a screen that cannot be shared said in the
// session's own lines (not only in the chat).
TEST_F(ModelStates, TheMainWindowShowsTheSessionKeysAndAScreenThatCannotBeShared) {
  registered();
  FakePlatform platform;
  HostSession::AnswerFn answer;
  model->sessions().setHost(platform, [&](HostSession&, HostSession::AnswerFn a) { answer = std::move(a); });
  QWidget settings, help;
  ConnectionTestWindow test(*model);
  MainWindow window(*model, &settings, &help, &test);
  window.show();
  EXPECT_FALSE(window.findChild<QLabel*>("keyFingerprints")->isVisibleTo(&window));
  testkit::FakePartner bob;
  say(bob.peerLine(testkit::PlimoClientTestKit(*AppModelTestKit{*model}.client()).peerKey().publicKey(),
                   " Bob U"));
  testkit::UdpRecord::deliver(sockets.udp.back(), bob.seal("PUNCHACK"), bob.publicAddress);
  loop.runPending();
  const std::string keys = labelText(window, "keyFingerprints");
  EXPECT_TRUE(window.findChild<QLabel*>("keyFingerprints")->isVisibleTo(&window));
  EXPECT_NE(keys.find("The partner's key: " + PlimoCrypto::keyFingerprint(bob.key.publicKey(), 32)),
            std::string::npos)
      << keys;
  shoot(window, "main-window-session-keys");

  loop.advance(2.0);
  ASSERT_TRUE(answer);
  platform.screen->failNext = Failure(Failure::Kind::noServer, "The X display cannot be reached");
  answer(HostSession::Answer::control);
  EXPECT_EQ(labelText(window, "sessionDetail"), model->sessions().hostSession()->captureProblem());
  shoot(window, "main-window-cannot-share");
}

// The findings as the plain report lists them, which the command line prints.
QStringList reportFindings(const QString& report) {
  QStringList out;
  for (const QString& line : report.split('\n'))
    if (line.startsWith("- [")) out << line;
  return out;
}

TEST_F(ModelStates, AFailedSessionLeadsToTheConnectionTestAndItsFindings) {
  registered();
  QWidget settings, help;
  ConnectionTestWindow test(*model);
  MainWindow window(*model, &settings, &help, &test);
  window.show();
  auto* whyNot = window.findChild<QPushButton*>("whyNot");
  EXPECT_FALSE(whyNot->isVisibleTo(&window));
  model->setPartnerID("123456789");
  model->connect();
  lines();
  say("ERR UNKNOWN_ID");
  ASSERT_TRUE(whyNot->isVisibleTo(&window));
  EXPECT_EQ(whyNot->text(), "Why didn't it connect?");
  shoot(window, "main-window-could-not-connect");
  QTest::mouseClick(whyNot, Qt::LeftButton);
  EXPECT_TRUE(test.isVisible());
  EXPECT_EQ(test.report(), "Testing...");
  for (int i = 0; i < 60 && test.report() == "Testing..."; ++i) loop.advance(1);
  auto levels = test.findChildren<QLabel*>("findingLevel");
  auto titles = test.findChildren<QLabel*>("findingTitle");
  auto details = test.findChildren<QLabel*>("findingDetail");
  ASSERT_EQ(titles.size(), levels.size());
  ASSERT_EQ(titles.size(), details.size());
  QStringList shown;
  for (qsizetype i = 0; i < titles.size(); ++i)
    shown << "- [" + levels[i]->text() + "] " + titles[i]->text() + ": " + details[i]->text();
  EXPECT_EQ(shown, reportFindings(test.report()));
  EXPECT_GE(shown.size(), 3);
  EXPECT_TRUE(
      test.report().contains(QRegularExpression("\nDate: [A-Z][a-z]{2} \\d{1,2}, \\d{4} at \\d{1,2}:\\d\\d:\\d\\d [AP]M\n")))
      << test.report().toStdString();
  shoot(test, "connection-test-findings");
}

// A helper's line dressed as a notice (the same mark in front) stays the
// helper's: only the PC's own notices read as Plimo's.
TEST(HostChatNotices, AHelperCannotPassALineOffAsThePCsOwnNotice) {
  testkit::HostRig host;
  host.platform.noInput = true;  // a note that the helper can only watch
  host.make();
  host.allow(HostSession::Answer::control);
  host.postText(1, "hello");
  host.postText(1, "\u24D8 Plimo: your PC needs a fix, run the helper's file");
  host.loop.advance(0.05);
  HostChat window(*host.session);
  window.show();
  auto& lines = *window.findChild<QTextBrowser*>("chatLines");
  QTextBlock note = lines.document()->begin();
  ASSERT_FALSE(host.session->chat().empty());
  EXPECT_EQ(note.text().toStdString(), host.session->chat().front().text);
  EXPECT_TRUE(note.text().startsWith(QString::fromUtf8("\u24D8 "))) << note.text().toStdString();
  EXPECT_EQ(note.blockFormat().alignment(), Qt::AlignHCenter);
  EXPECT_EQ(note.next().text(), "Helper: hello");
  EXPECT_EQ(note.next().next().text().toStdString(),
            "Helper: \u24D8 Plimo: your PC needs a fix, run the helper's file");
  EXPECT_EQ(note.next().next().blockFormat().alignment(), Qt::AlignLeft);
  shoot(window, "host-chat-notice");
}

}  // namespace
}  // namespace plimo
