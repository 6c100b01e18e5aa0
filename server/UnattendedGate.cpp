#include "server/UnattendedGate.h"

#include "server/Registrant.h"

namespace plimo {

std::optional<ServerStore::Helper> UnattendedGate::admit(const ClientSession& helper, const ClientSession& pc) {
  const Registrant& asker = server_.registrant(helper);
  // A failed read lets nobody in.
  Result<std::optional<ServerStore::Helper>> read = server_.reads().trustedHelper(asker.id);
  std::optional<ServerStore::Helper> entry = read.valueOr(std::nullopt);
  std::string why;
  if (!read) {
    why = "the trusted helpers cannot be read (" + read.error() + ")";
  } else if (!entry) {
    why = "not a trusted helper";
  } else if (entry->suspended) {
    why = "its trust is suspended, as the pin it was trusted with is gone (the ID was given up since, and may be "
          "kept by another PC now); plimo-server --trust-helper trusts it again";
  } else if (!asker.pinned) {
    why = "a trusted helper's ID, but not kept with its secret in this session";
  }
  if (!why.empty()) {
    server_.log(helper, "Refused ID " + asker.id + " from " + helper.endpoint.text() + " asking for ID " +
                            server_.registrant(pc).id + ", which has unattended access: " + why);
    return std::nullopt;
  }
  return entry;
}

void UnattendedGate::announced(const ClientSession& pc) {
  double now = server_.now();
  if (now < nextCheck_) return;
  nextCheck_ = now + kRecheck;
  Result<int64_t> count = server_.reads().trustedHelperCount();
  if (!count || *count > 0) return;
  nextCheck_ = now + kWarningPeriod;
  server_.log("No helper is trusted, so PCs with unattended access (such as ID " + server_.registrant(pc).id +
              ") cannot be reached unattended until one is: plimo-server --trust-helper ID");
}

}  // namespace plimo
