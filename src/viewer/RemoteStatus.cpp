#include "viewer/RemoteStatus.h"

#include "protocol/wire/SessionCodecs.h"

namespace plimo {

void RemoteStatus::take(ByteView packet) {
  const auto status = HostStatus::decode(packet);
  if (!status) return;
  if (status->mode != modeByte_) {
    modeByte_ = status->mode;
    log_("Session mode " + std::to_string(status->mode));
    mode_.set(sessionModeOf(status->mode));
  }
  adminAvailable_.set(status->adminAvailable);
  secureDesktop_.set(status->secureDesktop);
}

}  // namespace plimo
