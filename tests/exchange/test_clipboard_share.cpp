// Clipboard text between a real host and viewer session, and what each side
// sends to, and takes from, a partner of another edition.

#include <gtest/gtest.h>

#include "core/ManualLoop.h"
#include "host/HostRig.h"
#include "platform/fake/FakePlatform.h"
#include "protocol/wire/ClipboardText.h"
#include "protocol/wire/ExtensionList.h"
#include "testkit/SessionPair.h"
#include "testkit/ViewerRig.h"

using namespace plimo;
using namespace plimo::testkit;

namespace {

struct Platforms {
  ManualLoop loop;
  FakePlatform helped, helper;
};

SessionPair::Options lossy(bool hostClipboard) {
  SessionPair::Options o;
  o.link = {.drop = 0.05, .delay = 0.01, .seed = 3};
  o.hostClipboard = hostClipboard;
  return o;
}

struct Pair : Platforms, SessionPair {
  explicit Pair(bool hostClipboard = true) : SessionPair(loop, helped, helper, nullptr, lossy(hostClipboard)) {}
  FakeClipboard& here() { return *helped.clipboardMade; }
  FakeClipboard& there() { return *helper.clipboardMade; }
  void letIn(HostSession::Answer a) {
    ASSERT_TRUE(loop.runUntil([&] { return bool(answer); }, 3));
    answer(a);
    // The first status may be lost; the lists follow it.
    const SessionMode mode = a == HostSession::Answer::control ? SessionMode::control : SessionMode::viewOnly;
    ASSERT_TRUE(loop.runUntil([&] { return viewer->mode().get() == mode; }, 3));
    loop.advance(1.0);
  }
};

bool isExtension(uint8_t kind) { return kind >= MsgKind::extensions && kind <= 103; }

TEST(ClipboardShare, TextCrossesBothWaysOnlyWhileTheHelperHasControl) {
  Pair p;
  p.here().copy("before consent");
  p.loop.advance(1.0);
  EXPECT_EQ(p.there().text, "");
  p.letIn(HostSession::Answer::control);

  struct Step {
    const char* what;
    std::function<void()> act;
    std::string helperHas, helpedHas;
  };
  const Step steps[] = {
      {"helped copies", [&] { p.here().copy("ls -l /var/log"); }, "ls -l /var/log", ""},
      {"helper copies", [&] { p.there().copy("sudo apt install x"); }, "ls -l /var/log", "sudo apt install x"},
      {"paused, helped copies", [&] { p.host->setPaused(true), p.loop.advance(0.5), p.here().copy("p1"); },
       "ls -l /var/log", "sudo apt install x"},
      {"paused, helper copies", [&] { p.there().copy("p2"); }, "ls -l /var/log", "sudo apt install x"},
      // Sent before the pause reached the helper: the helped PC drops it.
      {"helper copies as the pause starts", [&] { p.host->setPaused(false), p.loop.advance(0.5),
                                                  p.host->setPaused(true), p.there().copy("crossing"); },
       "ls -l /var/log", "sudo apt install x"},
      {"resumed: nothing of the pause comes late", [&] { p.host->setPaused(false); }, "ls -l /var/log",
       "sudo apt install x"},
      {"resumed, helped copies", [&] { p.here().copy("again"); }, "again", "sudo apt install x"},
  };
  for (const auto& step : steps) {
    step.act();
    p.loop.advance(1.0);
    EXPECT_EQ(p.there().text, step.helperHas) << step.what;
    EXPECT_EQ(p.here().text, step.helpedHas) << step.what;
  }
}

TEST(ClipboardShare, NothingCrossesToOrFromAViewOnlyHelper) {
  Pair p;
  p.letIn(HostSession::Answer::viewOnly);
  p.here().copy("secret");
  p.there().copy("rm -rf ~");
  p.loop.advance(1.0);
  EXPECT_EQ(p.there().text, "");
  EXPECT_EQ(p.here().text, "");
}

TEST(ClipboardShare, ATextOver1MiBIsNotSentAndTheSenderIsTold) {
  Pair p;
  p.letIn(HostSession::Answer::control);
  const std::string whole(ClipboardText::kMaxText, 'a');
  p.here().copy(whole + "b");
  p.loop.advance(2.0);
  EXPECT_EQ(p.there().text, "");
  ASSERT_FALSE(p.host->chat().empty());
  EXPECT_NE(p.host->chat().back().text.find("larger than 1 MiB"), std::string::npos);
  p.here().copy(whole);
  EXPECT_TRUE(p.loop.runUntil([&] { return p.there().text == whole; }, 10)) << "1 MiB exactly, over a lossy link";
}

TEST(ClipboardShare, SwitchedOffOnTheHelpedPCNothingIsListedOrSent) {
  Pair p(false);
  int texts = 0;
  p.link.setFilter([&](LossyLink::End, ByteView packet) {
    if (packet.size() > 5 && packet[0] == SessionPacket::kChannelMsg && packet[5] == MsgKind::clipboardText) ++texts;
    return true;
  });
  p.letIn(HostSession::Answer::control);
  EXPECT_EQ(p.helped.clipboardMade, nullptr) << "not even read";
  p.there().copy("hello");
  p.loop.advance(1.0);
  EXPECT_EQ(texts, 0);
}

// Another edition's viewer never lists, so the helped PC sends it nothing of
// the extensions, not even its own list.
TEST(ClipboardShare, AViewerOfAnotherEditionHearsNoExtensionMessage) {
  HostRig rig;
  rig.make(false, true, "", true);
  rig.allow();
  rig.platform.clipboardMade->copy("secret");
  rig.loop.advance(1.0);
  for (const auto& m : rig.messages) EXPECT_FALSE(isExtension(m.kind)) << int(m.kind);
  rig.post(MsgKind::clipboardText, ClipboardText::encode("pushed"));
  rig.loop.advance(1.0);
  EXPECT_EQ(rig.platform.clipboardMade->text, "") << "text from a partner that never listed";
}

// Another edition's host gets the helper's one list and nothing more; text
// it sends unasked, or after a list while the helper only watches, is not
// taken.
TEST(ClipboardShare, AHostOfAnotherEditionGetsOneListAndCannotPushText) {
  ViewerRig rig;
  FakeClipboard& clip = *rig.platform.clipboardMade;
  rig.session->receive(Bytes{SessionPacket::kHostStatus, 1, 1, 0});
  rig.session->receive(Bytes{SessionPacket::kHostStatus, 2, 1, 0});
  rig.session->receive(Bytes{SessionPacket::kHostStatus, 1, 1, 0});
  clip.copy("secret");
  rig.message(MsgKind::clipboardText, ClipboardText::encode("unasked"));
  rig.loop.advance(1.0);
  std::vector<ChannelMsg> got;
  for (auto& packet : rig.sent)
    if (packet[0] == SessionPacket::kChannelMsg)
      for (auto& m : rig.host.handleMsg(packet)) got.push_back(m);
  std::vector<ChannelMsg> lists;
  for (auto& m : got) {
    EXPECT_TRUE(m.kind == MsgKind::extensions || !isExtension(m.kind)) << int(m.kind);
    if (m.kind == MsgKind::extensions) lists.push_back(m);
  }
  ASSERT_EQ(lists.size(), 1u);
  EXPECT_TRUE(ExtensionList::decode(lists[0].data).value().size() >= 1);
  EXPECT_EQ(clip.text, "");

  const ExtensionList::Extension clipboard[] = {{"clipboard", 1}};
  rig.session->receive(Bytes{SessionPacket::kHostStatus, 0, 1, 0});
  rig.message(MsgKind::extensions, ExtensionList::encode(clipboard));
  rig.message(MsgKind::clipboardText, ClipboardText::encode("to a watcher"));
  EXPECT_EQ(clip.text, "");
  rig.session->receive(Bytes{SessionPacket::kHostStatus, 1, 1, 0});
  rig.message(MsgKind::clipboardText, ClipboardText::encode("ok\x1b[2J"));
  EXPECT_EQ(clip.text, "ok[2J");
}

}  // namespace
