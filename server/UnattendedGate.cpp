#include "server/UnattendedGate.h"

#include "server/Registrant.h"

namespace plimo {

std::string UnattendedGate::refusal(bool pinned, const Result<std::optional<ServerStore::Helper>>& read) {
  if (!read) return "the trusted helpers cannot be read (" + read.error() + ")";
  if (!*read) return "not a trusted helper";
  if ((*read)->suspended) {
    return "its trust is suspended, as the pin it was trusted with is gone (the ID was given up since, and may be "
           "kept by another PC now); plimo-server --trust-helper trusts it again";
  }
  if (!pinned) return "a trusted helper's ID, but not kept with its secret in this session";
  return {};
}

std::optional<ServerStore::Helper> UnattendedGate::admit(const ClientSession& helper, const ClientSession& pc) {
  const Registrant& asker = server_.registrant(helper);
  // A failed read lets nobody in.
  Result<std::optional<ServerStore::Helper>> read = server_.reads().trustedHelper(asker.id);
  std::string why = refusal(asker.pinned, read);
  if (!why.empty()) {
    server_.log(helper, "Refused ID " + asker.id + " from " + helper.endpoint.text() + " asking for ID " +
                            server_.registrant(pc).id + ", which has unattended access: " + why);
    return std::nullopt;
  }
  return *read;
}

std::optional<ServerStore::Helper> UnattendedGate::admitFromFleet(const std::string& helperID, bool pinned,
                                                                  const std::string& server,
                                                                  const ClientSession& pc) {
  Result<std::optional<ServerStore::Helper>> read = server_.reads().trustedHelper(helperID);
  std::string why = refusal(pinned, read);
  if (!why.empty()) {
    server_.log(pc, "Refused ID " + helperID + " on server " + server + " asking for ID " +
                        server_.registrant(pc).id + ", which has unattended access: " + why);
    return std::nullopt;
  }
  return *read;
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
