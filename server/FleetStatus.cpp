#include "server/FleetStatus.h"

#include <cstdio>

#include "core/Text.h"

namespace plimo::FleetStatus {

Result<void> write(ServerStore& store, int64_t now, std::ostream& out) {
  auto servers = store.servers();
  if (!servers) return Failed{servers.error()};
  if (servers->empty()) {
    out << "No server has served from this store yet (a server alone on its data folder keeps no list).\n";
    return {};
  }
  out << "Server                          State    Clients  Sessions  Last heartbeat\n";
  for (const auto& s : *servers) {
    // Stopped servers wrote a heartbeat of 0 on the way out.
    const char* state = s.heartbeat == 0                                     ? "stopped"
                        : now - s.heartbeat <= store.staleAfter() ? "alive"
                                                                  : "gone";
    char line[160];
    std::snprintf(line, sizeof line, "%-31s %-8s %7lld  %8lld  ", printable(s.name).c_str(), state,
                  static_cast<long long>(s.clients), static_cast<long long>(s.sessions));
    out << line << (s.heartbeat == 0 ? "-" : std::to_string(now - s.heartbeat) + " s ago") << "\n";
  }
  return {};
}

}  // namespace plimo::FleetStatus
