// The model's half that starts and ends partner sessions and the start-up
// automation.

#include <algorithm>

#include "app/AppModel.h"
#include "app/ViewerWindows.h"
#include "core/PlimoID.h"
#include "protocol/link/PlimoClient.h"

namespace plimo {

void AppModel::connect() {
  if (!client_) return;
  notice_.set("");
  if (client_->state() == PlimoClient::State::punching || client_->state() == PlimoClient::State::connected) {
    client_->disconnect();
    return;
  }
  if (!online()) {
    notice_.set("Still connecting to the server. Try again in a moment.");
    return;
  }
  std::string digits = typedPlimoID(partnerID_.get());
  if (digits.empty()) {
    notice_.set("Enter the 9-digit ID of the other PC.");
    return;
  }
  if (digits == myID_.get()) {
    notice_.set("That is your own ID.");
    return;
  }
  prefs_.addRecent(digits);
  connecting_.set(true);
  sessionLight_.set(Light::amber);
  sessionTitle_.set("Connecting to " + formatPlimoID(digits) + "...");
  sessionDetail_.set("Setting up the encrypted direct link");
  checkNumber_.set("--- ---");
  client_->connect(digits);
}

void AppModel::partnerConnected() {
  if (!client_) return;
  connecting_.set(false);
  const std::string partner = formatPlimoID(client_->partnerID());
  const bool relayed = client_->viaRelay();
  if (client_->initiator()) {
    sessionLight_.set(Light::green);
    sessionTitle_.set("Connected to " + partner);
    sessionDetail_.set(relayed ? "You are helping this PC. Through the server (no direct path), still AES-256 "
                                "encrypted end to end."
                              : "You are helping this PC. Direct link, AES-256 encrypted.");
  } else {
    std::string who = client_->partnerName().empty() ? "Someone wants to help this PC"
                                                    : client_->partnerName() + " wants to help this PC";
    sessionDetail_.set(who + (relayed ? ". Through the server, AES-256 encrypted." : ". Direct link, AES-256 encrypted."));
    sessionTitle_.set("Connected to " + partner);
    sessionLight_.set(Light::amber);
  }
  checkNumber_.set(client_->checkNumber());
  if (client_->state() == PlimoClient::State::connected)
    client_->sendPeer("MSG Hello from " + formatPlimoID(client_->myID()), client_->peer());
  log(sessionTitle_.get() + " (" + sessionDetail_.get() + " Check number " + checkNumber_.get() + ")");
  if (client_->initiator()) {
    startViewerSession();
  } else {
    startHostSession();
  }
}

void AppModel::startViewerSession() {
  endSessionWindow();
  if (!platform_ || !client_) return;
  ViewerSession::Link link{client_->partnerID(), client_->checkNumber(),
                           weakly<ByteView>(std::weak_ptr<PlimoClient>(client_),
                                            [](PlimoClient& c, ByteView data) { c.sendData(data); })};
  ViewerSession::Options options{userDefaults_.string("dumpPicture"),
                                 userDefaults_.string("pictures").value_or("") == "tiles"};
  ViewerSession::LogFn onLog =
      guard_.weakly<const std::string&>([](AppModel& m, const std::string& line) { m.log(line); });
  viewerSession_ = std::make_shared<ViewerSession>(loop_, *platform_, std::move(link), prefs_.settings().get(),
                                                   std::move(onLog), std::move(options));
  viewerSession_->setDisplay(viewerDisplay_);
  if (viewerWindows_) {
    ViewerWindows::Facts facts{prefs_.nameOf(client_->partnerID()), client_->viaRelay(),
                               prefs_.settings().get().commandAsControl};
    viewerSession_->setDisplay(&viewerWindows_->showViewer(*viewerSession_, facts, guard_.weakly([](AppModel& m) {
      if (m.client_) m.client_->disconnect();
    })));
  }
  client_->attachSession(viewerSession_);
}

void AppModel::sessionEnded(Light light, const std::string& title, const std::string& detail) {
  endSessionWindow();
  connecting_.set(false);
  sessionLight_.set(light);
  sessionTitle_.set(title);
  sessionDetail_.set(detail);
  checkNumber_.set("--- ---");
}

void AppModel::startupAutomation() {
  if (autoConnected_) return;
  auto id = userDefaults_.string("autoConnect");
  auto reportTo = userDefaults_.string("reportTo");
  if ((!id || id->empty()) && reportTo && !reportTo->empty()) {
    autoConnected_ = true;
    return scheduleReport(*reportTo);
  }
  if (!id || id->empty()) return;
  autoConnected_ = true;
  partnerID_.set(*id);
  connect();
}

}  // namespace plimo
