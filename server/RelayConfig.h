#pragma once
// How a RelayServer runs: its ports as clients are told them, its table's
// bounds, its handshake budgets, and where its slow work runs.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/wire/LinkLimits.h"
#include "server/PresenceStore.h"
#include "server/StoreWorker.h"

namespace plimo {

struct RelayConfig {
  // This server's name in the directory of the servers sharing its store
  // (PresenceStore); empty: it serves alone and keeps no directory.
  std::string serverName;
  // How often its heartbeat is written (PresenceStore::kHeartbeat; a third
  // of the store's staleAfter when a test shortens that).
  double heartbeat = PresenceStore::kHeartbeat;
  uint16_t udpPort = link::kDefaultServerPort;
  // The TCP fallback ports clients are told about (the ones listening).
  std::vector<uint16_t> tcpPorts;
  size_t maxSessions = 100000;
  // Sessions that have had a welcome but sent nothing under its keys yet;
  // 0: a quarter of maxSessions, at least 4096 (clients reconnecting at once
  // after a restart).
  size_t maxUnconfirmed = 0;
  // Sessions one source address may hold; 0: an eighth of maxSessions, at
  // most 1024 (an office of PCs behind one NAT address), so that one
  // address never evicts the clients of others.
  size_t maxSessionsPerAddress = 0;
  double handshakeRate = 50;  // per source address and second
  // The share of the server thread's time handshakes may take, measured.
  // Each costs a key, an agreement and a signature (about 0.2 ms on a quiet
  // core, far more on a busy or slow one); the rest is for relaying and the
  // clients' lines, whatever the machine.
  double handshakeShare = 0.25;
  // The key work of handshakes on a worker thread (the server process);
  // else inside receive (tests on virtual time).
  bool handshakeThread = false;
  // Where the database writes run: on a thread of their own (the server
  // process), or on the loop (tests on virtual time).
  StoreWorker::Mode storeWork = StoreWorker::Mode::inlined;

  size_t unconfirmedCapacity() const {
    return maxUnconfirmed ? maxUnconfirmed : std::max<size_t>(maxSessions / 4, 4096);
  }
  size_t perAddressCapacity() const {
    return maxSessionsPerAddress ? maxSessionsPerAddress : std::clamp<size_t>(maxSessions / 8, 1, 1024);
  }
};

}  // namespace plimo
