#pragma once
// The command line of plimo-server.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/wire/LinkLimits.h"

namespace plimo {

struct ServerOptions {
  uint16_t udpPort = link::kDefaultServerPort;
  // The one IPv4 address the sockets are bound to (dotted quad); empty:
  // every interface. Two servers on one machine each take their own.
  std::string bindAddress;
  // The UDP port the other servers of a fleet relay partner packets to; 0:
  // any free one (tests). Only with a --store.
  uint16_t fleetPort = link::kDefaultServerPort + 1;
  // The ports clients fall back to when UDP is blocked; 443 and 80 pass most
  // firewalls that let web traffic out.
  std::vector<uint16_t> tcpPorts = {8443, 443, 80};
  std::string dataDir = "plimo-server-data";
  std::string logFile;  // empty: <dataDir>/plimo-server.log
  // A PostgreSQL connection string that every server of a fleet shares;
  // empty: the SQLite database in the data folder.
  std::string store;
  // The long-term key every server of a fleet presents (clients pin one
  // key); empty: <dataDir>/server-key.pem, made on first start.
  std::string keyFile;
  // Clients with a secure session at once; the idlest is evicted beyond it.
  // About 1 KB each when idle, so the default stays near 100 MB.
  size_t maxSessions = 100000;
  // Handshakes a second one source address may start (twice that in a burst).
  // A handshake costs the server two key operations and a signature; a
  // company behind one NAT address restarting all its PCs still gets through
  // at the clients' 2-second retry.
  double handshakeRate = 50;
  // The share of the server's time handshakes may take (RelayConfig says why).
  double handshakeShare = 0.25;
  // --export-usage: write the usage of the days from `exportFrom` to
  // `exportTo` (Unix seconds, UTC midnights, `exportTo` after the last day)
  // to standard output and end, instead of serving.
  bool exportUsage = false;
  int64_t exportFrom = 0, exportTo = 0;
  std::string exportFormat = "csv";

  // --fleet-status: list the servers sharing the store and end.
  bool fleetStatus = false;
  // --fleet-stale-after: for tests, which cannot wait PresenceStore::kStaleAfter.
  int64_t staleAfter = 0;

  // Instead of serving: change or show the list of trusted helpers in the
  // data folder's database, then exit (a running server reads the list on
  // every CONNECT to an unattended PC).
  enum class HelperCommand { none, trust, distrust, list };
  HelperCommand helperCommand = HelperCommand::none;
  std::string helperID;    // nine digits
  std::string helperName;  // with trust; for the log

  // Nothing, with `error` set, for an unknown option or a bad value. `--help`
  // also gives nothing with `error` empty.
  static std::optional<ServerOptions> parse(const std::vector<std::string>& args,
                                            std::string& error);
  static std::string usage();
  // Where the store is: `store`, or the data folder's database.
  std::string storeLocation() const;
};

// "2026-12-09": the Unix time of that day's start in UTC. Nothing for any
// other text or a day that does not exist.
std::optional<int64_t> parseServerDate(const std::string& text);

// "8443,443,80": decimal ports 1..65535 separated by commas, no repeats.
// Nothing for any other text.
std::optional<std::vector<uint16_t>> parseServerPorts(const std::string& text);
// The same list back, joined by commas; "0" for none (how clients read "no TCP").
std::string serverPortsText(const std::vector<uint16_t>& ports);

}  // namespace plimo
