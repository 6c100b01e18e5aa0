// The host session's life cycle: creation, consent, the capture passes,
// pause, chat and close.

#include "host/HostSession.h"

#include "core/Text.h"

namespace plimo {

namespace {

// Channel messages go out (and are resent) from this timer.
constexpr double kChannelPeriod = 0.01;
// Capture passes: more often than 60 Hz so a due picture waits at most 8 ms.
constexpr double kCapturePeriod = 0.008;

std::string pathText(const HostSession::Link& link) {
  if (link.viaRelay) return "through the server";
  if (!link.peer.ip.empty()) return link.peer.ip + ":" + std::to_string(link.peer.port);
  return "the server";
}

}  // namespace

HostSession::HostSession(EventLoop& loop, PlatformFactory& platform, SystemInfo system, Link link, Events events,
                         bool unattended, bool controlAsCommand, bool shareClipboard, FileTransfers::Place files)
    : loop_(loop),
      platform_(platform),
      system_(std::move(system)),
      link_(std::move(link)),
      events_(std::move(events)),
      peerAddress_(pathText(link_)),
      mode_([this](ByteView packet) { send(packet); }),
      helper_(link_.partnerID, link_.partnerName),
      consent_(loop, unattended,
               events_.onAskConsent ? [this](AnswerFn answer) { events_.onAskConsent(*this, std::move(answer)); }
                                    : std::function<void(AnswerFn)>(),
               [this](Answer answer) { allowed(answer); }),
      channel_(loop),
      input_(platform, controlAsCommand),
      pictures_(loop, platform, input_.injector(),
                {[this](ByteView packet) { send(packet); }, [this](const std::string& text) { log(text); },
                 [this](const std::string& here, const std::string& helper) {
                   if (phase_ == Phase::ended) return;  // a capture end that crossed the session's
                   if (!here.empty()) note(here);
                   if (!helper.empty()) channel_.postText(MsgKind::chat, helper);
                   if (events_.onCaptureProblem) events_.onCaptureProblem(here);
                 },
                 events_.excludedWindows,
                 [this](const std::string& helper) {
                   if (phase_ == Phase::ended) return;
                   // As a Stop: the helper is told why, then the link goes.
                   channel_.postText(MsgKind::chat, helper);
                   for (auto& packet : channel_.poll()) send(packet);
                   phase_ = Phase::ended;
                   loop_.post(guard_.weakly([](HostSession& s) {
                     if (auto disconnect = s.link_.disconnect) disconnect();
                   }));
                 }}),
      sound_(loop, platform, [this](ByteView packet) { send(packet); }, [this](const std::string& text) { log(text); }),
      early_([this](const std::string& text) { log(text); }),
      clipboard_(loop, shareClipboard ? platform.clipboard() : nullptr, extensions_,
                 {[this] { return phase_ == Phase::running && mode_.control(); },
                  [this](ByteView text) { channel_.postBytes(MsgKind::clipboardText, text); },
                  [this](const std::string& text) { note(text); }}),
      files_(loop, channel_, extensions_, std::move(files), [this](const std::string& text) {
        note(text);
        log(text);
      }) {
  chanTimer_ = loop_.every(kChannelPeriod, guard_.weakly([](HostSession& s) {
    // Chunks after pictures: a picture on its way gets the larger share.
    if (s.phase_ == Phase::running && !s.mode_.paused()) s.files_.tick(s.pictures_.framesInFlight() > 0);
    for (auto& packet : s.channel_.poll()) s.send(packet);
  }));
}

HostSession::~HostSession() { close(); }

void HostSession::allowed(Answer answer) {
  if (phase_ != Phase::asking) return;
  if (answer == Answer::deny) {
    log("the session was declined");
    phase_ = Phase::ended;
    early_.drop();
    // After the current call returns: the caller may be inside the session.
    // The owner may drop the session from inside the disconnect, so it runs
    // from a copy on the stack.
    loop_.post(guard_.weakly([](HostSession& s) {
      if (auto disconnect = s.link_.disconnect) disconnect();
    }));
    return;
  }
  phase_ = Phase::running;
  mode_.allow(answer == Answer::control ? SessionMode::control : SessionMode::viewOnly);
  if (events_.onAllowed) events_.onAllowed();
  if (phase_ != Phase::running) return;  // closed from inside onAllowed
  // This PC and its screens, for the helper's window. A desktop that asks
  // the person once more answers later: its screens are known then, and the
  // session goes on meanwhile; a Stop ends the asking.
  channel_.postText(MsgKind::information,
                    system_.hostName + "|" + system_.loginName + "|" + system_.osName + " " + system_.osVersion);
  asking_ = platform_.askToShare([&loop = loop_, weak = guard_.weak()] {
    loop.post([weak] {
      if (auto self = weak.lock()) self->share();
    });
  });
  if (!asking_) channel_.post(MsgKind::monitors, pictures_.monitorList());
  for (auto& msg : early_.take()) handleMessage(msg);
  // The capture pass's timer before the pictures' sending timer, which runs after it.
  captureTimer_ = loop_.every(kCapturePeriod, guard_.weakly([](HostSession& s) {
    if (s.phase_ != Phase::running) return;
    s.mode_.repeat(s.loop_.now());
    s.pictures_.pass();
  }));
  if (asking_)
    log("the desktop asks the person at this PC once more, in its own dialog");
  else
    share();
}

void HostSession::share() {
  if (phase_ != Phase::running) return;
  pictures_.start();
  if (asking_) channel_.post(MsgKind::monitors, pictures_.monitorList());
  sound_.start();
  if (mode_.mode() == SessionMode::control && !input_.problem().empty()) {
    log("input cannot be played: " + input_.problem());
    note("To be controlled, Plimo needs an X display with the XTEST extension. This session has none, so your "
         "helper can only watch.");
  }
}

void HostSession::setPaused(bool paused) {
  if (phase_ == Phase::ended) return;
  if (paused) input_.injector().releaseAll();
  pictures_.setPaused(paused);
  sound_.setPaused(paused);
  mode_.setPaused(paused);
}

void HostSession::note(const std::string& text) { chat_.notice("\u24D8 " + text, loop_.wallNow()); }

void HostSession::sendChat(std::string_view text) {
  std::string_view trimmed = trimWhitespace(text);
  if (trimmed.empty() || phase_ == Phase::ended) return;
  channel_.postText(1, trimmed);
  chat_.add(true, std::string(trimmed), loop_.wallNow());
}

void HostSession::close() {
  if (phase_ != Phase::ended) phase_ = Phase::ended;
  consent_.cancel();
  asking_.reset();
  captureTimer_.reset();
  chanTimer_.reset();
  input_.injector().releaseAll();
  pictures_.stop();
  sound_.stop();
  clipboard_.stop();
}

void HostSession::log(const std::string& text) const {
  if (events_.onLog) events_.onLog("[host] " + text);
}

void HostSession::send(ByteView packet) const {
  if (!packet.empty() && link_.send) link_.send(packet);
}

}  // namespace plimo
