#pragma once
// What tests reach inside an AppModel: its server link, and its status texts
// written as the link or a session would.

#include <memory>
#include <string>

#include "app/AppModel.h"

namespace plimo {

struct AppModelTestKit {
  AppModel& model;

  const std::shared_ptr<PlimoClient>& client() const { return model.link_->client(); }
  // Every text the main window shows from the server or a partner.
  void showInEveryText(const std::string& text) {
    for (auto* shown : {&model.link_->serverText_, &model.link_->myID_, &model.notice_, &model.sessions_.sessionTitle_,
                        &model.sessions_.sessionDetail_, &model.sessions_.checkNumber_})
      shown->set(text);
  }
};

}  // namespace plimo
