#pragma once
// `plimo-server --fleet-status`: the servers sharing the store, whether each
// is alive (by its heartbeat), and its clients and partner sessions.

#include <cstdint>
#include <ostream>

#include "core/Result.h"
#include "server/ServerStore.h"

namespace plimo::FleetStatus {

// `now`: Unix seconds.
Result<void> write(ServerStore& store, int64_t now, std::ostream& out);

}  // namespace plimo::FleetStatus
