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
  if (!platform_ || !client) return;
  std::weak_ptr<PlimoClient> weakClient = client;
  HostSession::Link link{client->partnerID(),
                         client->checkNumber(),
                         client->partnerName(),
                         client->viaRelay(),
                         client->peer(),
                         weakly<ByteView>(weakClient, [](PlimoClient& c, ByteView data) { c.sendData(data); }),
                         // The session then ends through onDisconnected.
                         weakly(weakClient, [](PlimoClient& c) { c.disconnect(); })};
  hostSession_ = std::make_shared<HostSession>(loop_, *platform_, system_.info(), std::move(link), unattended(),
                                               settings.get().helperCtrlAsCommand);
  HostSession& session = *hostSession_;
  session.onLog = guard_.weakly<const std::string&>([](AppModel& m, const std::string& line) { m.log(line); });
  session.onAllowed = guard_.weakly([](AppModel& m) { m.hostAllowed(); });
  session.excludedWindows = [this] { return windows_ ? windows_->excludedWindowIDs() : std::vector<uint32_t>{}; };
  session.onAskConsent = [this](HostSession& asking, HostSession::AnswerFn answer) {
    if (!consentGate_.mayAsk(asking.partnerID(), loop_.now())) {
      log("[host] " + formatPlimoID(asking.partnerID()) + " asked too often; declined without asking");
      return answer(HostSession::Answer::deny);
    }
    if (!ask_) return answer(HostSession::Answer::deny);
    ask_(asking, std::move(answer));
  };
  client->attachSession(hostSession_);
}

void AppModel::hostAllowed() {
  if (!hostSession_) return;
  sessionLight.set(Light::green);
  sessionTitle.set("Being helped by " + hostSession_->helperTitle());
  sessionDetail.set(hostSession_->mode() == 1
                        ? "Your helper may use this PC. Pause or Stop in the bar at the top of the screen."
                        : "Your helper can see your screen. Stop it in the bar at the top of the screen.");
  checkNumber.set(hostSession_->checkNumber());
  log(sessionTitle.get());
  if (!windows_) return;
  windows_->showRunning(*hostSession_, guard_.weakly([](AppModel& m) {
    if (m.client) m.client->disconnect();
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
