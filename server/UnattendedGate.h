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

#include <functional>
#include <limits>
#include <optional>
#include <string>

#include "core/EventLoop.h"
#include "server/ServerStore.h"

namespace plimo {

struct ClientSession;

class UnattendedGate {
 public:
  // While no helper is trusted, PCs with unattended access are out of reach;
  // the log says so once a day, not with every HELLO.
  static constexpr double kWarningPeriod = 24 * 3600;
  // How soon the list is looked at again once it had helpers.
  static constexpr double kRecheck = 60;

  // What the gate needs of the server.
  struct Context {
    EventLoop& loop;
    ServerStore& reads;  // the loop's reads
    std::function<void(const std::string&)> log;
    // A line about what one client did, within its address's budget.
    std::function<void(const ClientSession&, const std::string&)> logAbout;
  };

  explicit UnattendedGate(Context context) : context_(std::move(context)) {}

  // The helper's entry when `helper` may enter `pc` (which announced
  // unattended access); nothing otherwise, with the refusal logged (both
  // IDs and the source address, within that address's log budget).
  std::optional<ServerStore::Helper> admit(const ClientSession& helper, const ClientSession& pc);
  // `pc` announced unattended access in a HELLO.
  void announced(const ClientSession& pc);

 private:
  Context context_;
  double nextCheck_ = -std::numeric_limits<double>::infinity();
};

}  // namespace plimo
