#pragma once
// The connection test's findings and the plain-text report support staff
// read: what the server link knows, the server's test answer, the TCP
// fallback ports, the NAT type, the interfaces and the firewall, turned into
// a short list of findings. Pure: the caller gathers the facts (the
// application's ConnectionTest) and gets text back.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "protocol/link/PlimoClient.h"
#include "protocol/net/Net.h"
#include "support/Firewall.h"
#include "support/NetProbes.h"

namespace plimo::ConnectionReport {

struct Finding {
  enum class Level { ok, warning, problem };
  Level level = Level::ok;
  std::string title;
  std::string detail;
  bool operator==(const Finding&) const = default;
};

// "OK", "Attention", "Problem".
std::string_view levelWord(Finding::Level level);

struct Result {
  std::vector<Finding> findings;
  std::string text;
};

// Everything the report says, as gathered at the end of a run.
struct Facts {
  std::string date;     // local date and time of the run
  std::string version;  // the application's "version (build)"
  std::string system;   // "Debian GNU/Linux 12 (bookworm)"
  std::string serverAddress;  // as configured, "host:port"
  std::string relayAddress;   // as resolved, or "(not resolved)"
  uint16_t relayPort = 0;     // the server's UDP port
  bool relayOk = false;
  int64_t relayMilliseconds = 0;
  std::string relayText;
  bool relayBlocked = false;  // the server showed another key than the pinned one
  bool serverUp = false;
  std::string transport;
  std::string keyFingerprint;
  std::vector<std::pair<uint16_t, NetProbes::TcpResult>> tcp;  // in port order; empty: none probed
  NetProbes::Nat nat;
  std::vector<std::string> natLines;
  std::string myID;
  bool idPinned = false;
  std::string localIP;
  uint16_t localPort = 0;
  std::vector<InterfaceAddress> interfaces;
  FirewallState firewall;
  std::optional<PlimoClient::Attempt> attempt;
  std::string attemptTime;  // local time of the attempt's start
};

Result build(const Facts& facts);

// The result when there is no server link to test.
Result notRunning();

}  // namespace plimo::ConnectionReport
