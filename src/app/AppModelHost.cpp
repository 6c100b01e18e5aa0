// The model's half that serves a helper: the host session's start, consent,
// texts and end.

#include "app/AppModel.h"
#include "app/SessionWindows.h"
#include "app/ViewerWindows.h"
#include "core/PlimoID.h"
#include "platform/System.h"
#include "protocol/link/PlimoClient.h"
#include "support/IniFile.h"

namespace plimo {

void AppModel::setHost(PlatformFactory& platform, ConsentAsk ask) {
  platform_ = &platform;
  ask_ = std::move(ask);
}

const std::filesystem::path& AppModel::iniPath() const { return ini_.url(); }

void AppModel::startHostSession() {
  // A new partner (a takeover) is a new session, asked again.
  endSessionWindow();
  if (!platform_ || !link_->client()) return;
  std::weak_ptr<PlimoClient> weakClient = link_->client();
  HostSession::Link link{link_->client()->partnerID(),
                         link_->client()->checkNumber(),
                         link_->client()->partnerName(),
                         link_->client()->viaRelay(),
                         link_->client()->peer(),
                         weakly<ByteView>(weakClient, [](PlimoClient& c, ByteView data) { c.sendData(data); }),
                         // The session then ends through onDisconnected.
                         weakly(weakClient, [](PlimoClient& c) { c.disconnect(); })};
  HostSession::Events events;
  events.onLog = guard_.weakly<const std::string&>([](AppModel& m, const std::string& line) { m.log(line); });
  events.onAllowed = guard_.weakly([](AppModel& m) { m.hostAllowed(); });
  events.excludedWindows = [this] { return windows_ ? windows_->excludedWindowIDs() : std::vector<uint32_t>{}; };
  events.onAskConsent = [this](HostSession& asking, HostSession::AnswerFn answer) {
    if (!consentGate_.mayAsk(asking.partnerID(), loop_.now())) {
      log("[host] " + formatPlimoID(asking.partnerID()) + " asked too often; declined without asking");
      return answer(HostSession::Answer::deny);
    }
    if (!ask_) return answer(HostSession::Answer::deny);
    ask_(asking, std::move(answer));
  };
  hostSession_ = std::make_shared<HostSession>(loop_, *platform_, system_.info(), std::move(link), std::move(events),
                                               unattended(), prefs_.settings().get().helperCtrlAsCommand);
  link_->client()->attachSession(hostSession_);
}

void AppModel::hostAllowed() {
  if (!hostSession_) return;
  sessionLight_.set(Light::green);
  sessionTitle_.set("Being helped by " + hostSession_->helperTitle());
  sessionDetail_.set(hostSession_->mode() == SessionMode::control
                        ? "Your helper may use this PC. Pause or Stop in the bar at the top of the screen."
                        : "Your helper can see your screen. Stop it in the bar at the top of the screen.");
  checkNumber_.set(hostSession_->checkNumber());
  log(sessionTitle_.get());
  if (!windows_) return;
  windows_->showRunning(*hostSession_, guard_.weakly([](AppModel& m) {
    if (m.link_->client()) m.link_->client()->disconnect();
  }));
  windows_->minimiseMain();
}

void AppModel::endSessionWindow() {
  if (!hostSession_ && !viewerSession_) return;
  // The windows show the session: they go first.
  if (windows_) windows_->closeAll();
  // Its held keys are let go while the session can still send them.
  if (viewerWindows_ && viewerSession_) viewerWindows_->closeViewer();
  if (hostSession_) hostSession_->close();
  hostSession_.reset();
  if (viewerSession_) viewerSession_->close();
  viewerSession_.reset();
}

}  // namespace plimo
