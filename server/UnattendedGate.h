#pragma once
// Who may be introduced to a PC whose last HELLO announced unattended access
// (it lets its helper in at once, with full control): only a helper whose
// current ID this server session kept with its secret (PIN), the very secret
// that kept it when the company listed it as trusted (`plimo-server
// --trust-helper`). IDs are public and anyone may register one that was
// given up, so an ID alone lets nobody in.
//
// One thread (the server loop), reading the database there: readers never
// wait for a writer in WAL mode. Owned by the RelayServer.

#include <limits>
#include <optional>

#include "server/HandlerContext.h"
#include "server/ServerStore.h"

namespace plimo {

class UnattendedGate {
 public:
  // While no helper is trusted, PCs with unattended access are out of reach;
  // the log says so once a day, not with every HELLO.
  static constexpr double kWarningPeriod = 24 * 3600;
  // How soon the list is looked at again once it had helpers.
  static constexpr double kRecheck = 60;

  explicit UnattendedGate(HandlerContext& server) : server_(server) {}

  // The helper's entry when `helper` may enter `pc` (which announced
  // unattended access); nothing otherwise, with the refusal logged (both
  // IDs and the source address, within that address's log budget).
  std::optional<ServerStore::Helper> admit(const ClientSession& helper, const ClientSession& pc);
  // The same for a helper on another server of the fleet, which vouches for
  // its ID and whether that session kept it with its secret.
  std::optional<ServerStore::Helper> admitFromFleet(const std::string& helperID, bool pinned,
                                                    const std::string& server, const ClientSession& pc);
  // `pc` announced unattended access in a HELLO.
  void announced(const ClientSession& pc);

 private:
  // Why the helper that entry was read for may not enter; empty when it may.
  static std::string refusal(bool pinned, const Result<std::optional<ServerStore::Helper>>& read);

  HandlerContext& server_;
  double nextCheck_ = -std::numeric_limits<double>::infinity();
};

}  // namespace plimo
