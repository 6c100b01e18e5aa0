#pragma once
// A host session on a ManualLoop with the fake platform, and a viewer made of
// the session channel objects on the other end of an in-memory link that may
// lose, repeat and reorder packets.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/ManualLoop.h"
#include "host/HostSession.h"
#include "platform/fake/FakePlatform.h"
#include "protocol/wire/FrameReceiver.h"
#include "protocol/wire/FrameWindowReceiver.h"
#include "protocol/wire/InputSender.h"
#include "protocol/wire/MsgChannel.h"
#include "testkit/LossyLink.h"

namespace plimo::testkit {

using Answer = HostSession::Answer;
using Phase = HostSession::Phase;

struct HostRig {
  using End = LossyLink::End;  // a: the host, b: the viewer

  ManualLoop loop;
  FakePlatform platform;
  SystemInfo system{"Ada Lovelace", "ada", "testbox", "Debian GNU/Linux", "12 (bookworm)"};
  LossyLink link{loop, LossyLink::Options{.delay = 0.002}};
  std::unique_ptr<HostSession> session;
  std::vector<std::string> logs;
  int disconnects = 0;
  int asked = 0;
  // Run when consent is given.
  std::function<void()> onAllowed;
  HostSession::AnswerFn answer;  // the last consent question's

  // The viewer.
  MsgChannel channel{loop};
  FrameReceiver single{loop};
  FrameWindowReceiver windowed{loop};
  InputSender input;
  std::vector<ChannelMsg> messages;  // host → viewer, in order
  std::vector<Bytes> statuses, audio, pictures, inputAcks;
  Timer viewerTimer;

  explicit HostRig(LossyLink::Options options = {.delay = 0.002}) {
    link.setOptions(options);
    link.setReceiver(End::b, [this](ByteView p) { viewerGot(p); });
    link.setReceiver(End::a, [this](ByteView p) {
      if (session) session->receive(p);
    });
    viewerTimer = loop.every(0.01, [this] {
      link.send(End::b, channel.poll());
      if (auto nack = single.quickNack()) link.send(End::b, *nack);
      link.send(End::b, windowed.pendingNacks(0.05));
    });
  }
  ~HostRig() { session.reset(); }

  // `ask`: whether the person is asked (else no consent callback is set).
  void make(bool unattended = false, bool ask = true, std::string partnerName = "", bool shareClipboard = false) {
    HostSession::Link l{"123456789", "417 203", std::move(partnerName), false, {"203.0.113.9", 40001},
                        [this](ByteView p) { link.send(End::a, p); }, [this] { ++disconnects; }};
    HostSession::Events events;
    events.onLog = [this](const std::string& line) { logs.push_back(line); };
    if (ask)
      events.onAskConsent = [this](HostSession&, HostSession::AnswerFn fn) {
        ++asked;
        answer = std::move(fn);
      };
    events.onAllowed = [this] {
      if (onAllowed) onAllowed();
    };
    session = std::make_unique<HostSession>(loop, platform, system, std::move(l), std::move(events), unattended, false,
                                            shareClipboard);
  }
  void allow(Answer a = Answer::control) {
    loop.advance(2.0);
    ASSERT_TRUE(answer) << "no consent question";
    answer(a);
    loop.advance(0.05);
  }

  void viewerGot(ByteView p) {
    switch (p[0]) {
      case SessionPacket::kChannelMsg:
        for (auto& m : channel.handleMsg(p)) messages.push_back(m);
        break;
      case SessionPacket::kChannelAck: channel.handleAck(p); break;
      case SessionPacket::kHostStatus: statuses.emplace_back(p.begin(), p.end()); break;
      case SessionPacket::kAudio: audio.emplace_back(p.begin(), p.end()); break;
      case SessionPacket::kInputAck:
        inputAcks.emplace_back(p.begin(), p.end());
        input.handleAck(p);
        break;
      case SessionPacket::kFrameChunk: {
        auto r = single.handleChunk(p);
        if (r.reply) link.send(End::b, *r.reply);
        if (r.blob) pictures.push_back(*r.blob);
        break;
      }
      case SessionPacket::kWindowedChunk: {
        auto r = windowed.handleChunk(p);
        if (r.reply) link.send(End::b, *r.reply);
        for (auto& b : r.blobs) pictures.push_back(b);
        break;
      }
      default: break;
    }
  }

  // The viewer posts a message (sent by its channel timer).
  void post(uint8_t kind, ByteView payload = {}, bool more = false) { channel.post(kind, payload, more); }
  void postText(uint8_t kind, std::string_view text) { channel.postText(kind, text); }
  // A raw packet from the viewer, as it is (delivered at once).
  void raw(Bytes packet) { session->receive(packet); }

  std::vector<ChannelMsg> messagesOf(uint8_t kind) const {
    std::vector<ChannelMsg> out;
    for (auto& m : messages)
      if (m.kind == kind) out.push_back(m);
    return out;
  }
  std::vector<std::string> chatTexts() const {
    std::vector<std::string> out;
    for (auto& m : messagesOf(1)) out.push_back(toString(m.data));
    return out;
  }
  bool logged(const std::string& line) const {
    for (auto& l : logs)
      if (l == line) return true;
    return false;
  }
};

}  // namespace plimo::testkit
