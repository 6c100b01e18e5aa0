#pragma once
// The helper's side of a session: the object that lives while this PC shows
// and controls another. It receives every partner data packet, puts the
// pictures together (tiles or H.264) and hands them to the view, plays the
// sound, chats, keeps the state the viewer window shows, and sends the
// helper's requests and input to the host.
//
// ViewerSession.cpp holds the life cycle, the timers and the helper's
// actions, ViewerSessionMessages.cpp the packets and channel messages. Its
// parts: the pictures (ViewerPictures), the sound (ViewerSound), the input
// (SentInput), the host's status (RemoteStatus) and screens (RemoteMonitors),
// the chat (ChatLog), what the partner speaks beyond the common protocol
// (PartnerExtensions), the clipboard (ClipboardShare) and the files
// (FileTransfers).
//
// Owner: the application model, which attaches the session to the server
// link for its partner data (`receive`, the link holds it weakly) and drops
// it when the session ends (after `close`). Everything runs on the loop's
// thread. No callback fires after the session is destroyed or closed; the
// view set by `setDisplay` must stay valid until it is replaced or cleared.
//
// What a host can make this viewer hold is bounded: the pictures' bounds
// (ViewerPictures), one gathered message of MsgParts::kMaxGathered per kind,
// the chat (ChatLog) and kMaxNotes notices (at most kMaxTalkBytes of text
// besides the newest).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Bytes.h"
#include "core/EventLoop.h"
#include "core/Observable.h"
#include "core/Weakly.h"
#include "exchange/ClipboardShare.h"
#include "exchange/FileTransfers.h"
#include "exchange/PartnerExtensions.h"
#include "platform/PlatformFactory.h"
#include "protocol/link/SessionDataReceiver.h"
#include "protocol/wire/ChannelMsg.h"
#include "protocol/wire/ChatLog.h"
#include "protocol/wire/MsgChannel.h"
#include "protocol/wire/MsgParts.h"
#include "protocol/wire/SessionMode.h"
#include "support/AppSettings.h"
#include "viewer/RemoteInput.h"
#include "viewer/RemoteMonitors.h"
#include "viewer/RemoteStatus.h"
#include "viewer/SentInput.h"
#include "viewer/ViewerPictures.h"
#include "viewer/ViewerSound.h"

namespace plimo {

namespace testkit {
struct ViewerSessionTestKit;
}

struct ViewerSessionOptions {
  // Where the first picture is written as PNG, 3 s after it arrives.
  std::optional<std::string> dumpPicture{};
  // Ask the host for tiles only, never H.264 video.
  bool tilesOnly = false;
  // Where the helped PC's files go, and whether the helper answers offers.
  FileTransfers::Place files{};
  // H.264 decoded on a thread of its own, so that the window's thread only
  // paints; off, each frame is decoded as it arrives (tests in virtual time).
  bool videoOnThread = true;
};

class ViewerSession final : public RemoteInput, public SessionDataReceiver {
 public:
  // What the session needs of the server link, taken at creation.
  struct Link {
    std::string partnerID;
    std::string checkNumber;
    // Seals and sends session bytes to the partner; does nothing without a path.
    std::function<void(ByteView)> send;
  };

  using Options = ViewerSessionOptions;
  // One line for the application log.
  using LogFn = std::function<void(const std::string&)>;

  // One screen of the host, as it announced it.
  using Monitor = RemoteMonitors::Monitor;

  // Notices kept beside the chat (kMaxChatLines), each list within
  // kMaxTalkBytes of text; the oldest go first.
  static constexpr size_t kMaxNotes = 100;
  // The helped PC's lines logged while no picture has come: enough to keep
  // why, too few for a host chatting without end to fill the disk.
  static constexpr int kMaxLoggedWaiting = 10;

  // `loop` and `platform` outlive the session. The start-up requests
  // (full picture, capabilities, sound, profile, wallpaper) go out at once.
  ViewerSession(EventLoop& loop, PlatformFactory& platform, Link link, const AppSettings& settings, LogFn log,
                Options options = {});
  ~ViewerSession() override;
  ViewerSession(const ViewerSession&) = delete;
  ViewerSession& operator=(const ViewerSession&) = delete;

  // One decrypted partner data packet.
  void receive(ByteView packet) override;
  // Ends the session's activity: timers, sound, decoder. Nothing is sent or
  // shown afterwards.
  void close();

  // The helper's actions.
  void sendChat(std::string_view text);
  void pickMonitor(int index);
  void requestFullPicture();
  void askAdminRights();
  void setMuted(bool muted);
  void setChatOpen(bool open);

  // The view that draws the pictures, or null.
  void setDisplay(ScreenDisplay* display) { pictures_.setDisplay(display); }

  // RemoteInput: the host gave control, has not paused it, and the session runs.
  bool hasControl() const override;
  void sendInput(uint8_t kind, int x, int y, int32_t data) override;

  // What the viewer window shows.
  const Observable<SessionMode>& mode() const { return status_.mode(); }
  const Observable<bool>& adminAvailable() const { return status_.adminAvailable(); }
  const Observable<bool>& secureDesktop() const { return status_.secureDesktop(); }
  const Observable<std::string>& remoteInfo() const { return remoteInfo_; }
  const Observable<std::vector<Monitor>>& monitors() const { return monitors_.list(); }
  const Observable<int>& currentMonitor() const { return monitors_.current(); }
  const Observable<std::vector<ChatLine>>& chat() const { return chat_.lines(); }
  const Observable<int>& unreadChat() const { return chat_.unread(); }
  const Observable<std::vector<std::string>>& notes() const { return notes_; }
  const Observable<bool>& gotFirstFrame() const { return pictures_.gotFirstFrame(); }
  const Observable<Size>& remoteSize() const { return pictures_.remoteSize(); }
  const Observable<bool>& usingVideo() const { return pictures_.usingVideo(); }
  const Observable<Rendering>& rendering() const { return pictures_.rendering(); }
  const Observable<bool>& muted() const { return muted_; }
  FileTransfers& files() { return files_; }
  const Observable<bool>& chatOpen() const { return chat_.open(); }
  // The round trip of input (SentInput).
  const Observable<double>& roundTrip() const { return inputs_.roundTrip(); }

  const std::string& partnerID() const { return link_.partnerID; }
  const std::string& checkNumber() const { return link_.checkNumber; }
  int framesShown() const { return pictures_.framesShown(); }
  const TileCanvas& tiles() const { return pictures_.tiles(); }
  const InputSender& inputs() const { return inputs_.sender(); }
  // Payload bytes held for frames not yet complete, in both transfers.
  size_t frameBytesHeld() const { return pictures_.frameBytesHeld(); }

 private:
  friend struct testkit::ViewerSessionTestKit;

  // Life cycle and actions (ViewerSession.cpp).
  void sendProfile(const AppSettings& settings);
  void viewerTick();
  void channelTick();
  void note(const std::string& text);
  void log(const std::string& text) const;
  void send(ByteView packet) const;
  void sendIf(const std::optional<Bytes>& packet) const;

  // Packets and messages (ViewerSessionMessages.cpp).
  void handleMessage(const ChannelMsg& msg);

  EventLoop& loop_;
  PlatformFactory& platform_;
  const Link link_;
  const LogFn log_;
  const Options options_;
  bool closed_ = false;
  int loggedWaiting_ = 0;

  SentInput inputs_;
  MsgChannel channel_;
  ViewerPictures pictures_;
  ViewerSound sound_;
  MsgParts parts_;

  RemoteStatus status_;
  Observable<std::string> remoteInfo_;
  RemoteMonitors monitors_;
  ChatLog chat_;
  Observable<std::vector<std::string>> notes_;
  Observable<bool> muted_{false};
  PartnerExtensions extensions_;
  ClipboardShare clipboard_;
  FileTransfers files_;

  Timer viewerTimer_, chanTimer_;
  LifeGuard<ViewerSession> guard_{this};
};

}  // namespace plimo
