// The model's part that asks for a partner session, by hand or by the
// start-up automation.

#include <algorithm>

#include "app/AppModel.h"
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
  sessions_.connectingTo(digits);
  link_->client()->connect(digits);
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
