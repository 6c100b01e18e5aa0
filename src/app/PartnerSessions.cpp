#include "app/PartnerSessions.h"

#include <cstdlib>
#include <filesystem>

#include "app/Preferences.h"
#include "app/SessionWindows.h"
#include "app/ViewerWindows.h"
#include "core/PlimoID.h"
#include "platform/System.h"
#include "protocol/link/PlimoClient.h"

namespace plimo {

namespace {

// Where the partner's files go: the folder set, or, with windows to ask in,
// ~/Downloads.
FileTransfers::Place filePlace(const AppSettings& settings, bool windows) {
  std::filesystem::path folder = settings.filesFolder;
  const char* home = std::getenv("HOME");
  if (folder.empty() && windows && home) folder = std::filesystem::path(home) / "Downloads";
  return {folder, windows};
}

void disconnect(const std::weak_ptr<PlimoClient>& client) {
  if (auto c = client.lock()) c->disconnect();
}

}  // namespace

PartnerSessions::PartnerSessions(EventLoop& loop, System& system, const Preferences& prefs,
                                 const UserDefaults& userDefaults, Log log)
    : loop_(loop), system_(system), prefs_(prefs), userDefaults_(userDefaults), log_(std::move(log)) {}

void PartnerSessions::setHost(PlatformFactory& platform, ConsentAsk ask) {
  platform_ = &platform;
  ask_ = std::move(ask);
}

void PartnerSessions::connectingTo(const std::string& digits) {
  connecting_.set(true);
  sessionLight_.set(Light::amber);
  sessionTitle_.set("Connecting to " + formatPlimoID(digits) + "...");
  sessionDetail_.set("Setting up the encrypted direct link");
  checkNumber_.set("--- ---");
  keyFingerprints_.set("");
}

void PartnerSessions::connected(const std::shared_ptr<PlimoClient>& client) {
  if (!client) return;
  client_ = client;
  connecting_.set(false);
  const std::string partner = formatPlimoID(client->partnerID());
  const bool relayed = client->viaRelay();
  if (client->initiator()) {
    sessionLight_.set(Light::green);
    sessionTitle_.set("Connected to " + partner);
    sessionDetail_.set(relayed ? "You are helping this PC. Through the server (no direct path), still AES-256 "
                                 "encrypted end to end."
                               : "You are helping this PC. Direct link, AES-256 encrypted.");
  } else {
    std::string who = client->partnerName().empty() ? "Someone wants to help this PC"
                                                    : client->partnerName() + " wants to help this PC";
    sessionDetail_.set(who +
                       (relayed ? ". Through the server, AES-256 encrypted." : ". Direct link, AES-256 encrypted."));
    sessionTitle_.set("Connected to " + partner);
    sessionLight_.set(Light::amber);
  }
  checkNumber_.set(client->checkNumber());
  const PlimoClient::KeyFingerprints& keys = client->keyFingerprints();
  keyFingerprints_.set("This PC's key: " + keys.own + "\nThe partner's key: " + keys.partner);
  if (client->state() == PlimoClient::State::connected)
    client->sendPeer("MSG Hello from " + formatPlimoID(client->myID()), client->peer());
  log_(sessionTitle_.get() + " (" + sessionDetail_.get() + " Check number " + checkNumber_.get() + ")");
  if (client->initiator()) {
    startViewer(client);
  } else {
    startHost(client);
  }
}

void PartnerSessions::startHost(const std::shared_ptr<PlimoClient>& client) {
  // A new partner (a takeover) is a new session, asked again.
  endSessionWindow();
  if (!platform_) return;
  std::weak_ptr<PlimoClient> weakClient = client;
  HostSession::Link link{client->partnerID(),
                         client->checkNumber(),
                         client->partnerName(),
                         client->viaRelay(),
                         client->peer(),
                         weakly<ByteView>(weakClient, [](PlimoClient& c, ByteView data) { c.sendData(data); }),
                         // The session then ends through onDisconnected.
                         weakly(weakClient, [](PlimoClient& c) { c.disconnect(); })};
  HostSession::Events events;
  events.onLog = log_;
  events.onAllowed = guard_.weakly([](PartnerSessions& s) { s.hostAllowed(); });
  events.onCaptureProblem = [this](const std::string& problem) {
    showHostDetail();
    if (windows_ && hostSession_ && hostSession_->phase() == HostSession::Phase::running)
      windows_->setMainMinimised(problem.empty());
  };
  events.excludedWindows = [this] { return windows_ ? windows_->excludedWindowIDs() : std::vector<uint32_t>{}; };
  events.onAskConsent = [this](HostSession& asking, HostSession::AnswerFn answer) {
    if (!consentGate_.mayAsk(asking.partnerID(), loop_.now())) {
      log_("[host] " + formatPlimoID(asking.partnerID()) + " asked too often; declined without asking");
      return answer(HostSession::Answer::deny);
    }
    if (!ask_) return answer(HostSession::Answer::deny);
    ask_(asking, std::move(answer));
  };
  hostSession_ = std::make_shared<HostSession>(loop_, *platform_, system_.info(), std::move(link), std::move(events),
                                               prefs_.unattended().get(),
                                               prefs_.settings().get().helperCtrlAsCommand,
                                               prefs_.settings().get().shareClipboard(prefs_.unattended().get()),
                                               filePlace(prefs_.settings().get(), windows_ && windows_->answersFiles()));
  if (auto path = userDefaults_.string("sendFile")) hostSession_->files().sendWhenEnabled(*path);
  client->attachSession(hostSession_);
}

void PartnerSessions::hostAllowed() {
  if (!hostSession_) return;
  sessionTitle_.set("Being helped by " + hostSession_->helperTitle());
  showHostDetail();
  checkNumber_.set(hostSession_->checkNumber());
  log_(sessionTitle_.get());
  if (!windows_) return;
  windows_->showRunning(*hostSession_, [client = client_] { disconnect(client); });
  windows_->setMainMinimised(true);
}

// A screen that cannot be shared is said here too: the person would otherwise
// find it only as a notice in a chat they may never open.
void PartnerSessions::showHostDetail() {
  if (!hostSession_) return;
  const std::string& problem = hostSession_->captureProblem();
  sessionLight_.set(problem.empty() ? Light::green : Light::amber);
  if (!problem.empty())
    sessionDetail_.set(problem);
  else if (hostSession_->mode() == SessionMode::control)
    sessionDetail_.set("Your helper may use this PC. Pause or Stop in the bar at the top of the screen.");
  else
    sessionDetail_.set("Your helper can see your screen. Stop it in the bar at the top of the screen.");
}

void PartnerSessions::startViewer(const std::shared_ptr<PlimoClient>& client) {
  endSessionWindow();
  if (!platform_) return;
  ViewerSession::Link link{client->partnerID(), client->checkNumber(),
                           weakly<ByteView>(std::weak_ptr<PlimoClient>(client),
                                            [](PlimoClient& c, ByteView data) { c.sendData(data); })};
  ViewerSession::Options options{userDefaults_.string("dumpPicture"),
                                 userDefaults_.string("pictures").value_or("") == "tiles",
                                 filePlace(prefs_.settings().get(), viewerWindows_ && viewerWindows_->answersFiles())};
  viewerSession_ = std::make_shared<ViewerSession>(loop_, *platform_, std::move(link), prefs_.settings().get(), log_,
                                                   std::move(options));
  viewerSession_->setDisplay(viewerDisplay_);
  if (auto path = userDefaults_.string("sendFile")) viewerSession_->files().sendWhenEnabled(*path);
  if (viewerWindows_) {
    ViewerWindows::Facts facts{prefs_.nameOf(client->partnerID()), client->viaRelay(),
                               prefs_.settings().get().commandAsControl};
    viewerSession_->setDisplay(
        &viewerWindows_->showViewer(*viewerSession_, facts, [weak = client_] { disconnect(weak); }));
  }
  client->attachSession(viewerSession_);
}

void PartnerSessions::ended(Light light, const std::string& title, const std::string& detail) {
  endSessionWindow();
  connecting_.set(false);
  sessionLight_.set(light);
  sessionTitle_.set(title);
  sessionDetail_.set(detail);
  checkNumber_.set("--- ---");
  keyFingerprints_.set("");
}

void PartnerSessions::endSessionWindow() {
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
