// What partners, the server and files put in the windows: shown as it is in
// every window, never read as markup; and a full chat that takes each new
// line by appending it, not by showing the whole chat again.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTest>
#include <QTextBrowser>

#include "app/ModelRig.h"
#include "gui/Shots.h"
#include "host/HostRig.h"
#include "support/IniFile.h"
#include "testkit/AppModelTestKit.h"
#include "testkit/TempDir.h"
#include "testkit/ViewerRig.h"
#include "ui/ConnectionTestWindow.h"
#include "ui/ConsentPanel.h"
#include "ui/HelperWindows.h"
#include "ui/HostBar.h"
#include "ui/HostChat.h"
#include "ui/HostWindows.h"
#include "ui/MainWindow.h"
#include "ui/ReportWindow.h"
#include "ui/SettingsWindow.h"
#include "ui/ViewerChat.h"
#include "ui/ViewerWindow.h"

namespace plimo {
namespace {

using testing::shoot;

// Every label and tooltip of `window` shows its text as it is, and `hostile`
// is among the texts it shows: title, labels, list entries, fields, documents.
void expectShownAsItIs(QWidget& window, const std::string& hostile) {
  window.show();
  QApplication::processEvents();
  QStringList shown{window.windowTitle()};
  for (QLabel* label : window.findChildren<QLabel*>()) {
    EXPECT_TRUE(label->textFormat() == Qt::PlainText || !Qt::mightBeRichText(label->text()))
        << "read as markup: " << label->text().toStdString();
    shown << label->text();
  }
  for (QWidget* w : window.findChildren<QWidget*>()) EXPECT_FALSE(Qt::mightBeRichText(w->toolTip()));
  for (QListWidget* list : window.findChildren<QListWidget*>())
    for (int i = 0; i < list->count(); ++i) shown << list->item(i)->text();
  for (QLineEdit* field : window.findChildren<QLineEdit*>()) shown << field->text();
  for (QPlainTextEdit* text : window.findChildren<QPlainTextEdit*>()) shown << text->toPlainText();
  for (QTextEdit* text : window.findChildren<QTextEdit*>()) shown << text->toPlainText();
  EXPECT_TRUE(shown.join('\n').contains(QString::fromStdString(hostile))) << shown.join('\n').toStdString();
}

struct OutsideText : testkit::LinkFixture {
  void everyWindow(const std::string& hostile) {
    {
      SCOPED_TRACE("the helped PC's windows");
      testkit::HostRig host;
      host.make(false, true, hostile);
      host.loop.advance(2.0);
      ConsentPanel consent(host.loop, *host.session, [](HostSession::Answer) {});
      expectShownAsItIs(consent, hostile);
      if (hostile.find("/dev/zero") != std::string::npos) shoot(consent, "consent-panel-hostile-name");
      host.answer(HostSession::Answer::control);
      HostWindows windows(host.loop, nullptr);
      windows.showRunning(*host.session, [] {});
      host.postText(1, hostile);
      host.loop.advance(HostWindows::kRefresh * 2);
      windows.showChat();
      expectShownAsItIs(*windows.bar(), hostile);
      expectShownAsItIs(*windows.chat(), hostile);
      windows.closeAll();
    }
    {
      SCOPED_TRACE("the helper's window");
      testkit::ViewerRig viewer;
      testkit::TempDir home{"outside-text"};
      IniFile windowsIni{home / "Plimo.ini"};
      HelperWindows windows{viewer.loop, windowsIni, [](std::string_view) {}};
      viewer.session->setDisplay(&windows.showViewer(*viewer.session, {hostile, false, true}, [] {}));
      viewer.message(10, toBytes(hostile + "|ada|Debian 12"));
      viewer.message(1, toBytes(hostile));
      viewer.session->setChatOpen(true);
      expectShownAsItIs(*windows.viewer(), hostile);
      windows.closeViewer();
    }
    start("[Relay]\nHost=relay.example\n[Recent]\nCount=1\nId0=123456789\nName0=" + hostile + "\n");
    AppModelTestKit{*model}.showInEveryText(hostile);
    AppSettings settings = model->settings().get();
    settings.profileName = hostile;
    model->saveSettings(settings);
    system.systemInfo.osName = hostile;
    QWidget none;
    ConnectionTestWindow test(*model);
    MainWindow main(*model, &none, &none, &test);
    SettingsWindow settingsWindow(*model);
    QTest::mouseClick(test.findChild<QPushButton*>(), Qt::LeftButton);
    for (int i = 0; i < 60 && test.report() == "Testing..."; ++i) loop.advance(1);
    ReportWindow report;
    report.open(ReportDraft({"ref1", 1700000000, 1700001000, 1000, "123456789"}, hostile, hostile),
                [](ReportForm::End, const std::string&) {});
    for (auto [window, name] : {std::pair<QWidget*, const char*>{&main, "main window"}, {&settingsWindow, "settings"},
                                {&test, "connection test"}, {&report, "session report"}}) {
      SCOPED_TRACE(name);
      expectShownAsItIs(*window, hostile);
    }
  }
};

// A name that Qt would read as markup loads the images it names (the
// consent panel read /dev/zero without end) and fakes badges and colours.
// The first round's image names nothing; the real one comes only once no
// label read the first as markup.
TEST_F(OutsideText, AHostileNameIsShownAsPlainTextInEveryWindow) {
  everyWindow(R"(<img src="file:///nonexistent"><b>✓ VERIFIED SUPPORT</b>)");
  if (HasFailure()) return;
  everyWindow(R"(<img src="/dev/zero"><b>✓ VERIFIED SUPPORT</b>)");
}

// Every change of the chat's document while `act` runs, in characters.
struct Changes {
  int added = 0, removed = 0;
};
template <typename Act>
Changes changesOf(QTextEdit& lines, Act act) {
  Changes changes;
  auto watch = QObject::connect(lines.document(), &QTextDocument::contentsChange, [&](int, int removed, int added) {
    changes.added += added;
    changes.removed += removed;
  });
  act();
  QObject::disconnect(watch);
  return changes;
}

// The chat's paragraphs, oldest first.
std::vector<QString> paragraphs(QTextEdit& lines) {
  std::vector<QString> out;
  for (QTextBlock b = lines.document()->begin(); b.isValid(); b = b.next()) out.push_back(b.text());
  return out;
}

// A line with every break a text may hold: still one paragraph.
const std::string kBroken = "a\nb\r\nc\u2029d\ufdd0e";
const QString kBrokenShown = QString::fromUtf8("a\u2028b\u2028c\u2028d\ufffde");

// The document ends with the session's lines, and keeps at most a tenth
// more of the old ones (the oldest go in batches).
void expectEndsWith(QTextEdit& lines, const std::vector<ChatLine>& chat, const QString& other) {
  auto shown = paragraphs(lines);
  ASSERT_GE(shown.size(), chat.size());
  EXPECT_LE(shown.size(), chat.size() + kMaxChatLines / 10 + 1);
  for (size_t i = 0; i < chat.size(); ++i) {
    QString text = chat[i].text == kBroken ? kBrokenShown : QString::fromStdString(chat[i].text);
    ASSERT_EQ(shown[shown.size() - chat.size() + i], (chat[i].fromMe ? "You: " : other + " ") + text) << i;
  }
}

// A partner who fills the chat to its cap and then sends line after line
// made the helper's panel render all 1,000 lines again for each (the window
// froze), and the helped PC's window stopped showing new lines at all.
TEST(FullChat, ANewLineIsAppendedAndTheOldestDroppedNotTheWholeChatShownAgain) {
  constexpr int kLines = 150;
  constexpr int kMost = kLines * 40;  // what short lines and a notice add or drop, with room
  {
    SCOPED_TRACE("the helper's panel");
    testkit::ViewerRig viewer;
    for (size_t i = 0; i < kMaxChatLines; ++i) viewer.session->sendChat("line " + std::to_string(i));
    ViewerChat panel(*viewer.session);
    panel.show();
    auto& lines = *panel.findChild<QTextBrowser*>("chatLines");
    ASSERT_EQ(lines.document()->blockCount(), int(kMaxChatLines));
    Changes changes = changesOf(lines, [&] {
      for (int i = 0; i < kLines; ++i) {
        viewer.message(1, toBytes(i == 10 ? kBroken : "x"));
        if (i == 20) viewer.message(10, toBytes("Ada|ada|Debian 12"));  // a notice, above the chat
        QApplication::processEvents();
      }
    });
    EXPECT_LT(changes.added, kMost);
    EXPECT_LT(changes.removed, kMost);
    ASSERT_EQ(viewer.session->notes().get().size(), 1u);
    auto shown = paragraphs(lines);
    EXPECT_EQ(shown[0].toStdString(), viewer.session->notes().get()[0]);
    EXPECT_EQ(lines.document()->begin().blockFormat().alignment(), Qt::AlignHCenter);
    EXPECT_EQ(lines.document()->begin().next().blockFormat().alignment(), Qt::AlignLeft);
    EXPECT_NE(shown[1], "You: line 0");
    expectEndsWith(lines, viewer.session->chat().get(), "Them:");
  }
  {
    SCOPED_TRACE("the helped PC's window");
    testkit::HostRig host;
    host.make();
    host.allow();
    for (size_t i = 0; i < kMaxChatLines; ++i) host.session->sendChat("line " + std::to_string(i));
    HostChat window(*host.session);
    window.show();
    auto& lines = *window.findChild<QTextBrowser*>("chatLines");
    Changes changes = changesOf(lines, [&] {
      for (int i = 0; i < kLines; ++i) {
        host.postText(1, i == 10 ? kBroken : "x");
        host.loop.advance(0.02);
        window.refresh();
        QApplication::processEvents();
      }
    });
    EXPECT_LT(changes.added, kMost);
    EXPECT_LT(changes.removed, kMost);
    EXPECT_NE(paragraphs(lines)[0], "You: line 0");
    expectEndsWith(lines, host.session->chat(), "Helper:");
  }
}

}  // namespace
}  // namespace plimo
