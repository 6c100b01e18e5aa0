#include "platform/wayland/ShareAsking.h"

#include <pthread.h>

namespace plimo {

ShareAsking::ShareAsking(const std::function<std::unique_ptr<DesktopShare>()>& open,
                         std::function<void()> answered) {
  try {
    share_ = open();
  } catch (const Failure& failure) {
    failure_ = failure;
    answered();
    return;
  }
  thread_ = std::thread([this, answered = std::move(answered)] {
    pthread_setname_np(pthread_self(), "plimo.askshare");
    try {
      streams_ = share_->start();
    } catch (const Failure& failure) {
      failure_ = failure;
    }
    if (!dropped_) answered();
  });
}

ShareAsking::~ShareAsking() {
  if (!thread_.joinable()) return;
  dropped_ = true;
  share_->cancel();
  thread_.join();
}

GrantedShare ShareAsking::take() {
  if (thread_.joinable()) thread_.join();
  if (failure_) throw *failure_;
  return {std::move(share_), std::move(streams_)};
}

}  // namespace plimo
