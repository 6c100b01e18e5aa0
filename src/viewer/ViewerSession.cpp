// The viewer session's life cycle: start-up requests, the two timers, the
// helper's actions and close.

#include "viewer/ViewerSession.h"

#include "core/CappedList.h"
#include "core/Text.h"
#include "viewer/ViewerProfile.h"

namespace plimo {

namespace {

// The slower work (statistics, full-picture requests, input resends, the
// single-frame transfer's negative acknowledgements) runs ten times a second;
// the channel and the windowed transfer's stall recovery every 10 ms, so that
// resends go out within about 10 ms.
constexpr double kViewerPeriod = 0.1;
constexpr double kChannelPeriod = 0.01;

}  // namespace

ViewerSession::ViewerSession(EventLoop& loop, PlatformFactory& platform, Link link, const AppSettings& settings,
                             LogFn log, Options options)
    : loop_(loop),
      platform_(platform),
      link_(std::move(link)),
      log_(std::move(log)),
      options_(std::move(options)),
      inputs_(loop),
      channel_(loop),
      pictures_(loop, platform,
                {[this](ByteView packet) { send(packet); }, [this](const std::string& text) { this->log(text); },
                 [this](const std::string& text) { note(text); },
                 [this] { channel_.post(MsgKind::capabilities, Bytes{Capability::windowed}); }},
                options_.dumpPicture, options_.videoOnThread),
      sound_(platform, [this](const std::string& text) { this->log(text); },
             [this] { channel_.post(MsgKind::sound, Bytes{0}); }),
      status_([this](const std::string& text) { this->log(text); }),
      clipboard_(loop, settings.shareClipboard(false) ? platform.clipboard() : nullptr, extensions_,
                 {[this] { return hasControl(); },
                  [this](ByteView text) { channel_.postBytes(MsgKind::clipboardText, text); },
                  [this](const std::string& text) { note(text); }}),
      files_(loop, channel_, extensions_, options_.files, [this](const std::string& text) {
        note(text);
        this->log(text);
      }) {
  viewerTimer_ = loop_.every(kViewerPeriod, guard_.weakly([](ViewerSession& s) { s.viewerTick(); }));
  chanTimer_ = loop_.every(kChannelPeriod, guard_.weakly([](ViewerSession& s) { s.channelTick(); }));
  requestFullPicture();
  channel_.post(MsgKind::capabilities, Bytes{uint8_t(options_.tilesOnly ? Capability::windowed
                                                                     : Capability::video | Capability::windowed)});
  channel_.post(MsgKind::sound, Bytes{1});
  sendProfile(settings);
  channel_.post(MsgKind::hideWallpaper, Bytes{uint8_t(settings.hideWallpaper ? 1 : 0)});
}

ViewerSession::~ViewerSession() { close(); }

void ViewerSession::close() {
  closed_ = true;
  viewerTimer_.reset();
  chanTimer_.reset();
  sound_.close();
  pictures_.close();
  clipboard_.stop();
}

void ViewerSession::sendProfile(const AppSettings& settings) {
  std::optional<Picture> picture;
  if (!settings.profilePicture.empty())
    picture = platform_.readPicture(settings.profilePicture, ViewerProfile::fit);
  if (picture && (picture->width < 1 || picture->height < 1)) picture.reset();
  channel_.postText(MsgKind::profileText, ViewerProfile::text(settings, picture.has_value()));
  if (picture) channel_.postBytes(MsgKind::profilePicture, ViewerProfile::picture(*picture));
}

void ViewerSession::viewerTick() {
  pictures_.tick();
  sendIf(inputs_.resend());
}

void ViewerSession::channelTick() {
  pictures_.quickTick();
  files_.tick(false);
  for (auto& packet : channel_.poll()) send(packet);
}

void ViewerSession::requestFullPicture() { pictures_.requestFull(); }

void ViewerSession::askAdminRights() {
  if (!closed_) channel_.post(MsgKind::askAdmin, {});
}

void ViewerSession::sendChat(std::string_view text) {
  const std::string_view trimmed = trimWhitespace(text);
  if (trimmed.empty() || closed_) return;
  channel_.postText(MsgKind::chat, trimmed);
  chat_.add(true, std::string(trimmed), loop_.wallNow());
}

void ViewerSession::pickMonitor(int index) {
  if (closed_ || !monitors_.pick(index)) return;
  channel_.post(MsgKind::showMonitor, Bytes{uint8_t(index)});
}

void ViewerSession::setMuted(bool on) {
  muted_.set(on);
  if (on) sound_.flush();
  if (!closed_) channel_.post(MsgKind::sound, Bytes{uint8_t(on ? 0 : 1)});
}

void ViewerSession::setChatOpen(bool open) { chat_.setOpen(open); }

bool ViewerSession::hasControl() const { return !closed_ && status_.mode().get() == SessionMode::control; }

void ViewerSession::sendInput(uint8_t kind, int x, int y, int32_t data) {
  // The view drops input without control too; a paused session must not
  // queue what would be played once it resumes.
  if (hasControl()) sendIf(inputs_.add(kind, x, y, data));
}

void ViewerSession::note(const std::string& text) {
  auto items = notes_.get();
  appendCapped(items, text, kMaxNotes, kMaxTalkBytes, [](const std::string& t) { return t.size(); });
  notes_.set(items);
}

void ViewerSession::log(const std::string& text) const {
  if (log_) log_(text);
}

void ViewerSession::send(ByteView packet) const {
  if (!closed_ && !packet.empty() && link_.send) link_.send(packet);
}

void ViewerSession::sendIf(const std::optional<Bytes>& packet) const {
  if (packet) send(ByteView(*packet));
}

}  // namespace plimo
