// The host session's life cycle: creation, consent, capture start and stop,
// pause, chat and close.

#include "host/HostSession.h"

#include "core/Text.h"

namespace plimo {

namespace {

// Channel messages go out (and are resent) from this timer.
constexpr double kChannelPeriod = 0.01;
// Capture passes: more often than 60 Hz so a due picture waits at most 8 ms.
constexpr double kCapturePeriod = 0.008;
// The host status packet repeats this often, so a viewer that lost it (or
// joined late) learns the mode within a few seconds.
constexpr double kModeRepeat = 2.0;

}  // namespace

HostSession::HostSession(EventLoop& loop, PlatformFactory& platform, SystemInfo system, Link link, Events events,
                         bool unattended, bool controlAsCommand)
    : loop_(loop),
      system_(std::move(system)),
      link_(std::move(link)),
      events_(std::move(events)),
      helper_(link_.partnerID, link_.partnerName),
      consent_(loop, unattended,
               events_.onAskConsent ? [this](AnswerFn answer) { events_.onAskConsent(*this, std::move(answer)); }
                                    : std::function<void(AnswerFn)>(),
               [this](Answer answer) { allowed(answer); }),
      channel_(loop),
      input_(platform, controlAsCommand),
      pictures_(loop, platform, input_.injector(),
                {[this](ByteView packet) { send(packet); }, [this](const std::string& text) { log(text); },
                 [this](const std::string& problem) {
                   note(problem);
                   channel_.postText(1, "This PC does not allow screen sharing for Plimo yet. The person at the PC "
                                        "must log in to an X11 session (a Wayland-only session cannot be shared), "
                                        "then start Plimo again.");
                 },
                 events_.excludedWindows}),
      sound_(loop, platform, [this](ByteView packet) { send(packet); }, [this](const std::string& text) { log(text); }),
      early_([this](const std::string& text) { log(text); }) {
  if (link_.viaRelay) {
    peerAddress_ = "through the server";
  } else if (!link_.peer.ip.empty()) {
    peerAddress_ = link_.peer.ip + ":" + std::to_string(link_.peer.port);
  } else {
    peerAddress_ = "the server";
  }
  chanTimer_ = loop_.every(kChannelPeriod, guard_.weakly([](HostSession& s) { s.sendChannel(); }));
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
  mode_ = answer == Answer::control ? SessionMode::control : SessionMode::viewOnly;
  phase_ = Phase::running;
  sendMode();
  if (events_.onAllowed) events_.onAllowed();
  if (phase_ != Phase::running) return;  // closed from inside onAllowed
  announce();
  for (auto& msg : early_.take()) handleMessage(msg);
  // The capture pass's timer before the pictures' sending timer, which runs after it.
  captureTimer_ = loop_.every(kCapturePeriod, guard_.weakly([](HostSession& s) { s.capturePass(); }));
  pictures_.start();
  sound_.start();
  if (mode_ == SessionMode::control && !input_.problem().empty()) {
    log("input cannot be played: " + input_.problem());
    note("To be controlled, Plimo needs an X display with the XTEST extension. This session has none, so your "
         "helper can only watch.");
  }
}

void HostSession::capturePass() {
  if (phase_ != Phase::running) return;
  const double now = loop_.now();
  if (lastModeSent_ == 0 || elapsed(now, lastModeSent_, kModeRepeat)) {
    lastModeSent_ = now;
    sendMode();
  }
  pictures_.pass();
}

void HostSession::setPaused(bool paused) {
  if (phase_ == Phase::ended) return;
  paused_ = paused;
  if (paused) input_.injector().releaseAll();
  pictures_.setPaused(paused);
  sound_.setPaused(paused);
  sendMode();
}

void HostSession::note(const std::string& text) { chat_.add(false, "\u24D8 " + text, loop_.wallNow()); }

void HostSession::sendChat(std::string_view text) {
  std::string_view trimmed = trimWhitespace(text);
  if (trimmed.empty() || phase_ == Phase::ended) return;
  channel_.postText(1, trimmed);
  chat_.add(true, std::string(trimmed), loop_.wallNow());
}

void HostSession::setChatOpen(bool open) { chat_.setOpen(open); }

void HostSession::close() {
  if (phase_ != Phase::ended) phase_ = Phase::ended;
  consent_.cancel();
  captureTimer_.reset();
  chanTimer_.reset();
  input_.injector().releaseAll();
  pictures_.stop();
  sound_.stop();
}

void HostSession::log(const std::string& text) const {
  if (events_.onLog) events_.onLog("[host] " + text);
}

void HostSession::send(ByteView packet) const {
  if (!packet.empty() && link_.send) link_.send(packet);
}

void HostSession::sendChannel() {
  for (auto& packet : channel_.poll()) send(packet);
}

}  // namespace plimo
