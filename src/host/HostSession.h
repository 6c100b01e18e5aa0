#pragma once
// The helped PC's side of a session: the object that lives while a helper is
// connected here. It asks the person at this PC for consent (or lets an
// unattended helper in at once); once allowed it captures the screen, sends
// pictures as tiles or H.264, plays the helper's input, sends sound, chats
// and answers the helper's requests. Before consent nothing is captured,
// announced or applied.
//
// HostSession.cpp holds the life cycle and consent, HostSessionMessages.cpp
// the packets and channel messages, HostSessionPictures.cpp the picture
// pacing.
//
// Owner: the application model, which attaches the session to the server
// link for its partner data (`receive`, the link holds it weakly) and drops
// it when the session ends. Everything runs on the loop's thread; capture
// and sound threads reach the session only through posted tasks that check
// it still lives. No callback fires after the session is destroyed;
// callbacks may destroy it only through a posted task (`onAskConsent`'s
// answer may come at any later time, or never).

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Bytes.h"
#include "core/EventLoop.h"
#include "core/Weakly.h"
#include "host/FrameRate.h"
#include "host/InputInjector.h"
#include "host/TileEncoder.h"
#include "platform/PlatformFactory.h"
#include "platform/Rendering.h"
#include "platform/System.h"
#include "protocol/link/SessionDataReceiver.h"
#include "protocol/net/NetAddress.h"
#include "protocol/wire/ChannelMsg.h"
#include "protocol/wire/ChatLine.h"
#include "protocol/wire/FrameWindowSender.h"
#include "protocol/wire/InputReceiver.h"
#include "protocol/wire/MsgChannel.h"
#include "protocol/wire/MsgParts.h"
#include "protocol/wire/SessionMode.h"

namespace plimo {

class HostSession : public SessionDataReceiver {
 public:
  enum class Phase { asking, running, ended };
  enum class Answer { control, viewOnly, deny };
  using AnswerFn = std::function<void(Answer)>;

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
    // One line for the application log ("[host] ..." ).
    std::function<void(const std::string&)> onLog;
    // The windows the capture leaves out, asked at each capture start.
    std::function<std::vector<uint32_t>()> excludedWindows;
  };

  // Channel messages held before consent, at most: a helper's chat and
  // requests of the 32 s before an answer fit many times over, and one whole
  // multi-part message (1 MB) fits too.
  static constexpr size_t kMaxEarlyMessages = 2048;
  static constexpr size_t kMaxEarlyBytes = size_t(2) << 20;
  // Frame chunks sent at once: 40 × 1.2 kB every 10 ms is up to 4.8 MB/s, the
  // most a 1080p H.264 or tile stream needs; the rest waits for the next run.
  static constexpr size_t kChunkBudget = 40;

  // `platform` and `loop` outlive the session; `system` names this PC in the
  // information text. Consent is asked 2 s after creation or as soon as the
  // helper's profile is complete.
  HostSession(EventLoop& loop, PlatformFactory& platform, SystemInfo system, Link link, Events events,
              bool unattended, bool controlAsCommand);
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
  void setChatOpen(bool open);

  // Read-only view.
  Phase phase() const { return phase_; }
  // Control or view only, as the person allowed; paused() says whether paused.
  SessionMode mode() const { return mode_; }
  bool paused() const { return paused_; }
  const std::string& helperName() const { return helperName_; }
  const std::string& helperCompany() const { return helperCompany_; }
  const std::optional<Picture>& helperPicture() const { return helperPicture_; }
  // "Name, Company", "Name", or "A helper (123 456 789)".
  std::string helperTitle() const;
  const std::vector<ChatLine>& chat() const { return chat_; }
  int unreadChat() const { return unreadChat_; }
  const std::string& captureProblem() const { return captureProblem_; }
  Rendering rendering() const { return rendering_; }
  const std::string& partnerID() const { return link_.partnerID; }
  const std::string& checkNumber() const { return link_.checkNumber; }
  const std::string& peerAddress() const { return peerAddress_; }
  size_t framesInFlight() const { return frames_.frames().size(); }

 private:
  // Lifecycle and consent (HostSession.cpp).
  void startConsent();
  void allowed(Answer answer);
  void startCapture(std::optional<Display> display);
  void captureStopped(const std::string& reason);
  void updateSound();
  void note(const std::string& text);
  // Keeps the newest kMaxChatLines lines within kMaxTalkBytes.
  void addChat(ChatLine line);
  void log(const std::string& text) const;
  void send(ByteView packet) const;
  void sendChannel();

  // Packets and messages (HostSessionMessages.cpp).
  void handleMessage(const ChannelMsg& msg);
  void hold(ChannelMsg msg);
  void sendMode();
  void announce();
  void sendAudio(const Bytes& payload);
  void profileText(const Bytes& text);
  void profileDone();

  // Pictures (HostSessionPictures.cpp).
  void capturePass();
  void tryCapture(bool fromAck);
  std::optional<Bytes> captureBlob();
  std::optional<Bytes> videoBlob(const Picture& picture);
  void logStatistics(double now);

  EventLoop& loop_;
  PlatformFactory& platform_;
  const SystemInfo system_;
  const Link link_;
  const Events events_;
  const bool unattended_;
  std::string peerAddress_;

  Phase phase_ = Phase::asking;
  SessionMode mode_ = SessionMode::viewOnly;
  bool paused_ = false;
  std::string helperName_;
  std::string helperCompany_;
  std::optional<Picture> helperPicture_;
  std::vector<ChatLine> chat_;
  int unreadChat_ = 0;
  bool chatOpen_ = false;
  std::string captureProblem_;
  Rendering rendering_ = Rendering::none;

  MsgChannel channel_;
  FrameWindowSender frames_;
  InputReceiver inputs_;
  std::string inputProblem_;         // why input cannot be played here; empty when it can
  std::unique_ptr<InputSink> sink_;  // before the injector, which plays into it
  InputInjector injector_;
  std::unique_ptr<ScreenSource> capturer_;
  std::unique_ptr<SoundCapture> sound_;
  bool soundStarted_ = false;
  TileEncoder tiles_;
  std::unique_ptr<VideoEncoder> encoder_;
  bool videoWanted_ = false;
  bool videoFailed_ = false;
  bool audioOn_ = false;
  uint32_t audioSeq_ = 0;
  bool wantFull_ = true;
  double lastCapture_ = 0;
  std::vector<Display> displays_;
  std::deque<ChannelMsg> early_;
  size_t earlyBytes_ = 0;
  bool earlyOverflowLogged_ = false;
  MsgParts parts_;
  bool consentStarted_ = false;
  bool profileComplete_ = false;
  FrameRate rate_;
  double lastModeSent_ = 0;
  int statFrames_ = 0;
  double statEncode_ = 0;
  size_t statBytes_ = 0;
  double statStart_ = 0;

  Timer consentTimer_, captureTimer_, sendTimer_, chanTimer_;
  LifeGuard<HostSession> guard_{this};
};

}  // namespace plimo
