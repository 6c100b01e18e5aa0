#pragma once
// The helped PC's side of a session: the object that lives while a helper is
// connected here. It asks the person at this PC for consent (or lets an
// unattended helper in at once); once allowed it captures the screen, sends
// pictures as tiles or H.264, plays the helper's input, sends sound, chats
// and answers the helper's requests. Before consent nothing is captured,
// announced or applied.
//
// HostSession.cpp holds the life cycle and consent, HostSessionMessages.cpp
// the packets and channel messages. Its parts: the question to the person
// (ConsentQuestion), what they allowed (HostMode), the pictures
// (HostPictures), the input (HostInput), the sound (HostSound), who the
// helper is (HelperIdentity), the messages waiting for consent
// (EarlyMessages), the chat (ChatLog), what the partner speaks beyond the
// common protocol (PartnerExtensions), the clipboard (ClipboardShare) and
// the files (FileTransfers).
//
// Owner: the application model, which attaches the session to the server
// link for its partner data (`receive`, the link holds it weakly) and drops
// it when the session ends. Everything runs on the loop's thread; capture
// and sound threads reach its parts only through posted tasks that check
// they still live. No callback fires after the session is destroyed;
// callbacks may destroy it only through a posted task (`onAskConsent`'s
// answer may come at any later time, or never).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/Bytes.h"
#include "core/EventLoop.h"
#include "core/Weakly.h"
#include "exchange/ClipboardShare.h"
#include "exchange/FileTransfers.h"
#include "exchange/PartnerExtensions.h"
#include "host/ConsentQuestion.h"
#include "host/EarlyMessages.h"
#include "host/HelperIdentity.h"
#include "host/HostInput.h"
#include "host/HostMode.h"
#include "host/HostPictures.h"
#include "host/HostSound.h"
#include "platform/PlatformFactory.h"
#include "platform/Rendering.h"
#include "platform/System.h"
#include "protocol/link/SessionDataReceiver.h"
#include "protocol/net/NetAddress.h"
#include "protocol/wire/ChannelMsg.h"
#include "protocol/wire/ChatLog.h"
#include "protocol/wire/MsgChannel.h"
#include "protocol/wire/MsgParts.h"
#include "protocol/wire/SessionMode.h"

namespace plimo {

class HostSession : public SessionDataReceiver {
 public:
  enum class Phase { asking, running, ended };
  using Answer = ConsentQuestion::Answer;
  using AnswerFn = ConsentQuestion::AnswerFn;

  // What the session needs of the server link, taken at creation.
  struct Link {
    std::string partnerID;
    std::string checkNumber;
    std::string partnerName;
    bool viaRelay = false;
    Address peer;
    // Seals and sends session bytes to the partner; does nothing without a path.
    std::function<void(ByteView)> send;
    // Ends the partner session (the helper sees it end).
    std::function<void()> disconnect;
  };

  // What the owner hears of the session, given at creation.
  struct Events {
    // Asks the person (2 s after creation, or once the helper's profile is
    // complete); the answer callback holds the session weakly and only its
    // first call counts. Unset: the session is declined.
    std::function<void(HostSession&, AnswerFn)> onAskConsent;
    // Once, when consent is given.
    std::function<void()> onAllowed;
    // The screen cannot be shared (what to show the person here), or can
    // again (empty).
    std::function<void(const std::string&)> onCaptureProblem;
    // One line for the application log ("[host] ..." ).
    std::function<void(const std::string&)> onLog;
    // The windows the capture leaves out, asked at each capture start.
    std::function<std::vector<uint32_t>()> excludedWindows;
  };

  // `platform` and `loop` outlive the session; `system` names this PC in the
  // information text. Consent is asked 2 s after creation or as soon as the
  // helper's profile is complete. `shareClipboard`: the person's setting;
  // `files`: where the helper's files go and whether the person answers.
  HostSession(EventLoop& loop, PlatformFactory& platform, SystemInfo system, Link link, Events events,
              bool unattended, bool controlAsCommand, bool shareClipboard = false, FileTransfers::Place files = {});
  ~HostSession() override;
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // One decrypted partner data packet.
  void receive(ByteView packet) override;
  // Ends the session's activity: timers, capture, held keys.
  void close();
  // Pause or resume (host bar).
  void setPaused(bool paused);
  // A chat line from the person at this PC.
  void sendChat(std::string_view text);
  // The chat window opened or closed.
  void setChatOpen(bool open) { chat_.setOpen(open); }

  // Read-only view.
  Phase phase() const { return phase_; }
  // Control or view only, as the person allowed; paused() says whether paused.
  SessionMode mode() const { return mode_.mode(); }
  bool paused() const { return mode_.paused(); }
  const std::string& helperName() const { return helper_.name(); }
  const std::string& helperCompany() const { return helper_.company(); }
  const std::optional<Picture>& helperPicture() const { return helper_.picture(); }
  // "Name, Company", "Name", or "A helper (123 456 789)".
  std::string helperTitle() const { return helper_.title(); }
  const std::vector<ChatLine>& chat() const { return chat_.lines(); }
  int unreadChat() const { return chat_.unread(); }
  const std::string& captureProblem() const { return pictures_.problem(); }
  Rendering rendering() const { return pictures_.rendering(); }
  const std::string& partnerID() const { return link_.partnerID; }
  const std::string& checkNumber() const { return link_.checkNumber; }
  const std::string& peerAddress() const { return peerAddress_; }
  size_t framesInFlight() const { return pictures_.framesInFlight(); }
  // Sent while the session runs and is not paused.
  FileTransfers& files() { return files_; }

 private:
  // Lifecycle and consent (HostSession.cpp).
  void allowed(Answer answer);
  // Allowed, and the desktop's own question answered: the screen and the
  // sound go out.
  void share();
  void note(const std::string& text);
  void log(const std::string& text) const;
  void send(ByteView packet) const;

  // Packets and messages (HostSessionMessages.cpp).
  void handleMessage(const ChannelMsg& msg);

  EventLoop& loop_;
  PlatformFactory& platform_;
  const SystemInfo system_;
  const Link link_;
  const Events events_;
  const std::string peerAddress_;

  Phase phase_ = Phase::asking;
  HostMode mode_;
  HelperIdentity helper_;
  ConsentQuestion consent_;
  ChatLog chat_;

  MsgChannel channel_;
  HostInput input_;
  HostPictures pictures_;
  HostSound sound_;
  EarlyMessages early_;
  MsgParts parts_;
  PartnerExtensions extensions_;
  ClipboardShare clipboard_;
  FileTransfers files_;

  Timer captureTimer_, chanTimer_;
  std::shared_ptr<void> asking_;  // the desktop's own question, while asked
  LifeGuard<HostSession> guard_{this};
};

}  // namespace plimo
