// The host session's life cycle: creation, consent, capture start and stop,
// pause, chat and close.

#include "host/HostSession.h"

#include "core/CappedList.h"
#include "core/PlimoID.h"
#include "core/Text.h"

namespace plimo {

namespace {

// Consent is asked this long after the link comes up, so that the helper's
// profile (name, company, picture) can arrive and be shown in the question.
constexpr double kConsentDelay = 2.0;
// Channel messages go out (and are resent) from this timer.
constexpr double kChannelPeriod = 0.01;
// Capture passes: more often than 60 Hz so a due picture waits at most 8 ms.
constexpr double kCapturePeriod = 0.008;
constexpr double kSendPeriod = 0.01;
// Frames in flight with the windowed transfer: enough to cover a relayed
// round trip at 60 pictures a second without queueing stale pictures.
constexpr size_t kMaxInFlight = 4;

// Input is played nowhere: this PC cannot play input (no X server, no XTEST).
class NoInput final : public InputSink {
 public:
  void moveTo(int, int) override {}
  void button(int, bool) override {}
  void key(uint32_t, bool) override {}
};

std::unique_ptr<InputSink> openSink(PlatformFactory& platform, std::string& problem) {
  try {
    return platform.inputSink();
  } catch (const Failure& failure) {
    problem = failure.text();
    return std::make_unique<NoInput>();
  }
}

}  // namespace

HostSession::HostSession(EventLoop& loop, PlatformFactory& platform, SystemInfo system, Link link, Events events,
                         bool unattended, bool controlAsCommand)
    : loop_(loop),
      platform_(platform),
      system_(std::move(system)),
      link_(std::move(link)),
      events_(std::move(events)),
      unattended_(unattended),
      helperName_(link_.partnerName),
      channel_(loop),
      frames_(loop),
      sink_(openSink(platform, inputProblem_)),
      injector_(*sink_, controlAsCommand),
      capturer_(platform.screenSource()),
      sound_(platform.soundCapture()),
      statStart_(loop.now()) {
  if (link_.viaRelay) {
    peerAddress_ = "through the server";
  } else if (!link_.peer.ip.empty()) {
    peerAddress_ = link_.peer.ip + ":" + std::to_string(link_.peer.port);
  } else {
    peerAddress_ = "the server";
  }
  consentTimer_ = loop_.after(kConsentDelay, guard_.weakly([](HostSession& s) { s.startConsent(); }));
  chanTimer_ = loop_.every(kChannelPeriod, guard_.weakly([](HostSession& s) { s.sendChannel(); }));
  sound_->onAudio = [&loop, weak = guard_.weak()](Bytes packet) {
    loop.post([weak, packet = std::move(packet)] {
      if (auto self = weak.lock()) self->sendAudio(packet);
    });
  };
  capturer_->onStopped = [&loop, weak = guard_.weak()](std::string reason) {
    loop.post([weak, reason = std::move(reason)] {
      if (auto self = weak.lock()) self->captureStopped(reason);
    });
  };
}

HostSession::~HostSession() { close(); }

std::string HostSession::helperTitle() const {
  if (helperName_.empty()) return "A helper (" + formatPlimoID(link_.partnerID) + ")";
  if (helperCompany_.empty()) return helperName_;
  return helperName_ + ", " + helperCompany_;
}

void HostSession::startConsent() {
  if (consentStarted_ || phase_ != Phase::asking) return;
  consentStarted_ = true;
  consentTimer_.reset();
  if (unattended_) return allowed(Answer::control);
  if (!events_.onAskConsent) return allowed(Answer::deny);
  auto answered = std::make_shared<bool>(false);
  events_.onAskConsent(*this, [weak = guard_.weak(), answered](Answer answer) {
    if (std::exchange(*answered, true)) return;
    if (auto self = weak.lock()) self->allowed(answer);
  });
}

void HostSession::allowed(Answer answer) {
  if (phase_ != Phase::asking) return;
  if (answer == Answer::deny) {
    log("the session was declined");
    phase_ = Phase::ended;
    early_.clear();
    earlyBytes_ = 0;
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
  wantFull_ = true;
  sendMode();
  if (events_.onAllowed) events_.onAllowed();
  if (phase_ != Phase::running) return;  // closed from inside onAllowed
  announce();
  std::deque<ChannelMsg> held = std::move(early_);
  early_.clear();
  earlyBytes_ = 0;
  for (auto& msg : held) handleMessage(msg);
  displays_ = capturer_->displays();
  std::optional<Display> chosen;
  for (const auto& d : displays_)
    if (d.primary && !chosen) chosen = d;
  if (!chosen && !displays_.empty()) chosen = displays_.front();
  startCapture(chosen);
  frames_.setMaxInFlight(kMaxInFlight);
  rate_.begin(loop_.now());
  captureTimer_ = loop_.every(kCapturePeriod, guard_.weakly([](HostSession& s) { s.capturePass(); }));
  sendTimer_ = loop_.every(kSendPeriod, guard_.weakly([](HostSession& s) {
    for (auto& packet : s.frames_.nextPackets(kChunkBudget)) s.send(packet);
  }));
  updateSound();
  if (mode_ == SessionMode::control && !inputProblem_.empty()) {
    log("input cannot be played: " + inputProblem_);
    note("To be controlled, Plimo needs an X display with the XTEST extension. This session has none, so your "
         "helper can only watch.");
  }
}

void HostSession::startCapture(std::optional<Display> display) {
  if (!display) {
    captureProblem_ = "No screen found to share.";
    return;
  }
  injector_.setScreen(display->bounds);
  try {
    capturer_->start(*display, events_.excludedWindows ? events_.excludedWindows() : std::vector<uint32_t>{});
  } catch (const Failure& failure) {
    captureProblem_ = "Plimo cannot share the screen of this PC yet (" + failure.text() +
                      "). Log in to an X11 session (a Wayland-only session cannot be shared), then start Plimo "
                      "again.";
    log("capture failed: " + failure.text());
    note(captureProblem_);
    channel_.postText(1,
                      "This PC does not allow screen sharing for Plimo yet. The person at the PC must log in to an X11 "
                      "session (a Wayland-only session cannot be shared), then start Plimo again.");
    return;
  }
  injector_.setPictureSize(capturer_->slot.size());
  captureProblem_.clear();
  wantFull_ = true;
}

void HostSession::captureStopped(const std::string& reason) {
  log("capture stopped: " + reason);
  captureProblem_ = "Sharing the screen stopped (" + reason + ").";
}

void HostSession::updateSound() {
  sound_->setAudioOn(audioOn_);
  // Sound is recorded only once consent is given and the helper wants it.
  if (soundStarted_ || phase_ != Phase::running || !audioOn_) return;
  soundStarted_ = true;
  try {
    sound_->start();
  } catch (const Failure& failure) {
    log("no sound: " + failure.text());
  }
}

void HostSession::setPaused(bool paused) {
  if (phase_ == Phase::ended) return;
  paused_ = paused;
  if (paused) injector_.releaseAll();
  wantFull_ = true;
  sendMode();
}

void HostSession::note(const std::string& text) {
  addChat({newChatLineID(), false, "\u24D8 " + text, loop_.wallNow()});
}

void HostSession::sendChat(std::string_view text) {
  std::string_view trimmed = trimWhitespace(text);
  if (trimmed.empty() || phase_ == Phase::ended) return;
  channel_.postText(1, trimmed);
  addChat({newChatLineID(), true, std::string(trimmed), loop_.wallNow()});
}

void HostSession::addChat(ChatLine line) {
  appendCapped(chat_, std::move(line), kMaxChatLines, kMaxTalkBytes, chatLineBytes);
}

void HostSession::setChatOpen(bool open) {
  chatOpen_ = open;
  if (open) unreadChat_ = 0;
}

void HostSession::close() {
  if (phase_ != Phase::ended) phase_ = Phase::ended;
  consentTimer_.reset();
  captureTimer_.reset();
  sendTimer_.reset();
  chanTimer_.reset();
  injector_.releaseAll();
  capturer_->stop();
  sound_->stop();
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
