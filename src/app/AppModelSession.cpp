// The model's half that starts and ends partner sessions and the start-up
// automation.

#include <algorithm>

#include "app/AppModel.h"
#include "app/ViewerWindows.h"
#include "core/PlimoID.h"
#include "protocol/link/PlimoClient.h"

namespace plimo {

void AppModel::connect() {
  if (!link_->client()) return;
  notice_.set("");
  if (link_->client()->state() == PlimoClient::State::punching || link_->client()->state() == PlimoClient::State::connected) {
    link_->client()->disconnect();
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
  if (digits == link_->myID().get()) {
    notice_.set("That is your own ID.");
    return;
  }
  prefs_.addRecent(digits);
  connecting_.set(true);
  sessionLight_.set(Light::amber);
  sessionTitle_.set("Connecting to " + formatPlimoID(digits) + "...");
  sessionDetail_.set("Setting up the encrypted direct link");
  checkNumber_.set("--- ---");
  link_->client()->connect(digits);
}

void AppModel::partnerConnected() {
  if (!link_->client()) return;
  connecting_.set(false);
  const std::string partner = formatPlimoID(link_->client()->partnerID());
  const bool relayed = link_->client()->viaRelay();
  if (link_->client()->initiator()) {
    sessionLight_.set(Light::green);
    sessionTitle_.set("Connected to " + partner);
    sessionDetail_.set(relayed ? "You are helping this PC. Through the server (no direct path), still AES-256 "
                                "encrypted end to end."
                              : "You are helping this PC. Direct link, AES-256 encrypted.");
  } else {
    std::string who = link_->client()->partnerName().empty() ? "Someone wants to help this PC"
                                                    : link_->client()->partnerName() + " wants to help this PC";
    sessionDetail_.set(who + (relayed ? ". Through the server, AES-256 encrypted." : ". Direct link, AES-256 encrypted."));
    sessionTitle_.set("Connected to " + partner);
    sessionLight_.set(Light::amber);
  }
  checkNumber_.set(link_->client()->checkNumber());
  if (link_->client()->state() == PlimoClient::State::connected)
    link_->client()->sendPeer("MSG Hello from " + formatPlimoID(link_->client()->myID()), link_->client()->peer());
  log(sessionTitle_.get() + " (" + sessionDetail_.get() + " Check number " + checkNumber_.get() + ")");
  if (link_->client()->initiator()) {
    startViewerSession();
  } else {
    startHostSession();
  }
}

void AppModel::startViewerSession() {
  endSessionWindow();
  if (!platform_ || !link_->client()) return;
  ViewerSession::Link link{link_->client()->partnerID(), link_->client()->checkNumber(),
                           weakly<ByteView>(std::weak_ptr<PlimoClient>(link_->client()),
                                            [](PlimoClient& c, ByteView data) { c.sendData(data); })};
  ViewerSession::Options options{userDefaults_.string("dumpPicture"),
                                 userDefaults_.string("pictures").value_or("") == "tiles"};
  ViewerSession::LogFn onLog =
      guard_.weakly<const std::string&>([](AppModel& m, const std::string& line) { m.log(line); });
  viewerSession_ = std::make_shared<ViewerSession>(loop_, *platform_, std::move(link), prefs_.settings().get(),
                                                   std::move(onLog), std::move(options));
  viewerSession_->setDisplay(viewerDisplay_);
  if (viewerWindows_) {
    ViewerWindows::Facts facts{prefs_.nameOf(link_->client()->partnerID()), link_->client()->viaRelay(),
                               prefs_.settings().get().commandAsControl};
    viewerSession_->setDisplay(&viewerWindows_->showViewer(*viewerSession_, facts, guard_.weakly([](AppModel& m) {
      if (m.link_->client()) m.link_->client()->disconnect();
    })));
  }
  link_->client()->attachSession(viewerSession_);
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
