// The model's half that starts and ends partner sessions and the start-up
// automation.

#include <algorithm>

#include "app/AppModel.h"
#include "app/ViewerWindows.h"
#include "core/PlimoID.h"
#include "protocol/link/PlimoClient.h"

namespace plimo {

void AppModel::connect() {
  if (!client) return;
  notice.set("");
  if (client->state() == PlimoClient::State::punching || client->state() == PlimoClient::State::connected) {
    client->disconnect();
    return;
  }
  if (!online()) {
    notice.set("Still connecting to the server. Try again in a moment.");
    return;
  }
  std::string digits = typedPlimoID(partnerID.get());
  if (digits.empty()) {
    notice.set("Enter the 9-digit ID of the other PC.");
    return;
  }
  if (digits == myID.get()) {
    notice.set("That is your own ID.");
    return;
  }
  addRecent(digits);
  connecting.set(true);
  sessionLight.set(Light::amber);
  sessionTitle.set("Connecting to " + formatPlimoID(digits) + "...");
  sessionDetail.set("Setting up the encrypted direct link");
  checkNumber.set("--- ---");
  client->connect(digits);
}

void AppModel::addRecent(const std::string& id) {
  auto list = recent.get();
  std::string name;
  if (auto it = std::find_if(list.begin(), list.end(), [&](const RecentPC& r) { return r.id == id; });
      it != list.end())
    name = it->name;
  std::erase_if(list, [&](const RecentPC& r) { return r.id == id; });
  list.insert(list.begin(), RecentPC{id, name});
  if (list.size() > RecentPC::maxCount) list.resize(RecentPC::maxCount);
  recent.set(list);
  saved(RecentPC::save(recent.get(), ini_));
}

void AppModel::partnerConnected() {
  if (!client) return;
  connecting.set(false);
  const std::string partner = formatPlimoID(client->partnerID());
  const bool relayed = client->viaRelay();
  if (client->initiator()) {
    sessionLight.set(Light::green);
    sessionTitle.set("Connected to " + partner);
    sessionDetail.set(relayed ? "You are helping this PC. Through the server (no direct path), still AES-256 "
                                "encrypted end to end."
                              : "You are helping this PC. Direct link, AES-256 encrypted.");
  } else {
    std::string who = client->partnerName().empty() ? "Someone wants to help this PC"
                                                    : client->partnerName() + " wants to help this PC";
    sessionDetail.set(who + (relayed ? ". Through the server, AES-256 encrypted." : ". Direct link, AES-256 encrypted."));
    sessionTitle.set("Connected to " + partner);
    sessionLight.set(Light::amber);
  }
  checkNumber.set(client->checkNumber());
  if (client->state() == PlimoClient::State::connected)
    client->sendPeer("MSG Hello from " + formatPlimoID(client->myID()), client->peer());
  log(sessionTitle.get() + " (" + sessionDetail.get() + " Check number " + checkNumber.get() + ")");
  if (client->initiator()) {
    startViewerSession();
  } else {
    startHostSession();
  }
}

void AppModel::startViewerSession() {
  endSessionWindow();
  if (!platform_ || !client) return;
  ViewerSession::Link link{client->partnerID(), client->checkNumber(),
                           weakly<ByteView>(std::weak_ptr<PlimoClient>(client),
                                            [](PlimoClient& c, ByteView data) { c.sendData(data); })};
  ViewerSession::Options options{userDefaults_.string("dumpPicture"),
                                 userDefaults_.string("pictures").value_or("") == "tiles"};
  viewerSession_ =
      std::make_shared<ViewerSession>(loop_, *platform_, std::move(link), settings.get(), std::move(options));
  viewerSession_->onLog = guard_.weakly<const std::string&>([](AppModel& m, const std::string& line) { m.log(line); });
  viewerSession_->setDisplay(viewerDisplay_);
  if (viewerWindows_) {
    const std::string& partner = client->partnerID();
    const auto& list = recent.get();
    auto known = std::find_if(list.begin(), list.end(), [&](const RecentPC& r) { return r.id == partner; });
    ViewerWindows::Facts facts{known != list.end() ? known->name : "", client->viaRelay(),
                               settings.get().commandAsControl};
    viewerSession_->setDisplay(&viewerWindows_->showViewer(*viewerSession_, facts, guard_.weakly([](AppModel& m) {
      if (m.client) m.client->disconnect();
    })));
  }
  client->attachSession(viewerSession_);
}

void AppModel::sessionEnded(Light light, const std::string& title, const std::string& detail) {
  endSessionWindow();
  connecting.set(false);
  sessionLight.set(light);
  sessionTitle.set(title);
  sessionDetail.set(detail);
  checkNumber.set("--- ---");
}

void AppModel::startupAutomation() {
  if (autoConnected) return;
  auto id = userDefaults_.string("autoConnect");
  auto reportTo = userDefaults_.string("reportTo");
  if ((!id || id->empty()) && reportTo && !reportTo->empty()) {
    autoConnected = true;
    return scheduleReport(*reportTo);
  }
  if (!id || id->empty()) return;
  autoConnected = true;
  partnerID.set(*id);
  connect();
}

}  // namespace plimo
