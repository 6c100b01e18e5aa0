#include "server/ServerOptions.h"

#include <algorithm>
#include <charconv>
#include <ctime>

#include "core/PlimoID.h"
#include "server/Endpoint.h"
#include "server/ServerStore.h"

namespace plimo {

namespace {

// A name for the log line of a session, not a record.
constexpr size_t kMaxHelperName = 100;

template <typename T>
bool parseNumber(const std::string& text, T min, T max, T& out) {
  T value{};
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < min || value > max) {
    return false;
  }
  out = value;
  return true;
}

}  // namespace

std::optional<std::vector<uint16_t>> parseServerPorts(const std::string& text) {
  std::vector<uint16_t> ports;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    uint16_t port = 0;
    if (!parseNumber<uint16_t>(text.substr(start, comma - start), 1, 65535, port)) {
      return std::nullopt;
    }
    if (std::find(ports.begin(), ports.end(), port) != ports.end()) return std::nullopt;
    ports.push_back(port);
    start = comma + 1;
  }
  return ports;
}

std::optional<int64_t> parseServerDate(const std::string& text) {
  int year = 0, month = 0, day = 0;
  if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !parseNumber(text.substr(0, 4), 1970, 9999, year) ||
      !parseNumber(text.substr(5, 2), 1, 12, month) || !parseNumber(text.substr(8, 2), 1, 31, day)) {
    return std::nullopt;
  }
  std::tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  std::time_t t = timegm(&parts);
  // timegm moves 31 April to 1 May; such a day is not one.
  if (parts.tm_mday != day || parts.tm_mon != month - 1) return std::nullopt;
  return int64_t(t);
}

std::string serverPortsText(const std::vector<uint16_t>& ports) {
  if (ports.empty()) return "0";
  std::string text;
  for (uint16_t port : ports) {
    if (!text.empty()) text += ",";
    text += std::to_string(port);
  }
  return text;
}

std::string ServerOptions::storeLocation() const {
  return store.empty() ? dataDir + "/plimo-server.db" : store;
}

std::string ServerOptions::usage() {
  return "usage: plimo-server [--udp-port N] [--tcp-ports LIST] [--bind IP] [--data DIR]\n"
         "                    [--store URI] [--fleet-port N] [--key FILE] [--log FILE]\n"
         "                    [--max-sessions N]\n"
         "                    [--handshake-rate N]\n"
         "                    [--handshake-share P]\n"
         "       plimo-server --store URI --fleet-status\n"
         "       plimo-server [--data DIR] --export-usage --from DATE --to DATE [--format csv|json]\n"
         "       plimo-server [--data DIR] [--log FILE] --trust-helper ID [--name NAME]\n"
         "       plimo-server [--data DIR] [--log FILE] --distrust-helper ID | --list-helpers\n"
         "  --udp-port N        UDP port clients talk to (default 47800)\n"
         "  --tcp-ports LIST    TCP fallback ports, comma-separated (default 8443,443,80;\n"
         "                      \"none\" for no TCP)\n"
         "  --bind IP           listen on this IPv4 address only (default: all)\n"
         "  --data DIR          key and database folder (default ./plimo-server-data)\n"
         "  --store URI         the fleet's PostgreSQL database instead of the folder's\n"
         "                      (postgresql://user@host/db; postgresql:// alone takes\n"
         "                      the PG* variables); also for the commands below\n"
         "  --fleet-port N      UDP port the fleet's other servers relay to (default\n"
         "                      47801; 0: any free one); only with --store\n"
         "  --key FILE          the server key the fleet's servers share (readable by\n"
         "                      the server's user only; default DIR/server-key.pem)\n"
         "  --log FILE          log file (default DIR/plimo-server.log)\n"
         "  --max-sessions N    clients kept at once; the idlest is dropped beyond it\n"
         "                      (default 100000)\n"
         "  --handshake-rate N  handshakes a second per source address (default 50)\n"
         "  --handshake-share P percent of the server's time handshakes may take\n"
         "                      (default 25)\n"
         "  --export-usage      write the sessions that started from DATE to DATE\n"
         "                      (YYYY-MM-DD, UTC, both days included) with the\n"
         "                      helpers' reports to standard output, then end\n"
         "  --format F          csv (default) or json\n"
         "  --trust-helper ID   let the helper with this ID into PCs with unattended\n"
         "                      access while the secret that keeps its ID now keeps\n"
         "                      it; takes effect on a running server at once\n"
         "  --name NAME         with --trust-helper: the helper's name, for the log\n"
         "  --distrust-helper ID  no longer let this helper in unattended\n"
         "  --list-helpers      show the trusted helpers, suspended or not\n"
         "  --fleet-status      show the servers sharing the --store: alive or not,\n"
         "                      their clients and partner sessions\n"
         "  --fleet-stale-after S  for tests: a server silent for S seconds (3 to 30)\n"
         "                      is gone; every server of the fleet needs the same S\n";
}

std::optional<ServerOptions> ServerOptions::parse(const std::vector<std::string>& args,
                                                  std::string& error) {
  ServerOptions options;
  error.clear();
  std::optional<int64_t> from, to;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    if (name == "--help" || name == "-h") return std::nullopt;
    if (name == "--export-usage") {
      options.exportUsage = true;
      continue;
    }
    if (name == "--fleet-status") {
      options.fleetStatus = true;
      continue;
    }
    bool helperCommand = name == "--trust-helper" || name == "--distrust-helper" || name == "--list-helpers";
    if (helperCommand && options.helperCommand != HelperCommand::none) {
      error = "one of --trust-helper, --distrust-helper and --list-helpers at a time";
      return std::nullopt;
    }
    if (name == "--list-helpers") {
      options.helperCommand = HelperCommand::list;
      continue;
    }
    if (i + 1 >= args.size()) {
      error = name.rfind("--", 0) == 0 ? name + " needs a value" : "unknown option " + name;
      return std::nullopt;
    }
    const std::string& value = args[++i];
    bool ok = true;
    if (name == "--udp-port") {
      ok = parseNumber<uint16_t>(value, 1, 65535, options.udpPort);
    } else if (name == "--tcp-ports") {
      if (value == "none") {
        options.tcpPorts.clear();
      } else if (auto ports = parseServerPorts(value)) {
        options.tcpPorts = *ports;
      } else {
        ok = false;
      }
    } else if (name == "--bind") {
      uint32_t ip = 0;
      options.bindAddress = value;
      ok = parseIPv4(value, ip);
    } else if (name == "--fleet-port") {
      ok = parseNumber<uint16_t>(value, 0, 65535, options.fleetPort);
    } else if (name == "--data") {
      options.dataDir = value;
      ok = !value.empty();
    } else if (name == "--store") {
      options.store = value;
      ok = ServerStore::isPostgres(value);
    } else if (name == "--key") {
      options.keyFile = value;
      ok = !value.empty();
    } else if (name == "--log") {
      options.logFile = value;
      ok = !value.empty();
    } else if (name == "--trust-helper" || name == "--distrust-helper") {
      options.helperCommand = name == "--trust-helper" ? HelperCommand::trust : HelperCommand::distrust;
      // As a person types or copies it from the helper's window: "123 456 789".
      options.helperID = typedPlimoID(value);
      ok = !options.helperID.empty();
    } else if (name == "--name") {
      options.helperName = value;
      ok = !value.empty() && value.size() <= kMaxHelperName &&
           std::none_of(value.begin(), value.end(), [](char c) { return uint8_t(c) < 0x20 || c == 0x7F; });
    } else if (name == "--max-sessions") {
      ok = parseNumber<size_t>(value, 1, 10000000, options.maxSessions);
    } else if (name == "--handshake-rate") {
      unsigned rate = 0;
      ok = parseNumber<unsigned>(value, 1, 1000000, rate);
      options.handshakeRate = rate;
    } else if (name == "--fleet-stale-after") {
      ok = parseNumber<int64_t>(value, 3, PresenceStore::kStaleAfter, options.staleAfter);
    } else if (name == "--handshake-share") {
      unsigned percent = 0;
      ok = parseNumber<unsigned>(value, 1, 100, percent);
      options.handshakeShare = percent / 100.0;
    } else if (name == "--from" || name == "--to") {
      auto day = parseServerDate(value);
      ok = day.has_value();
      if (ok) (name == "--from" ? from : to) = *day;
    } else if (name == "--format") {
      options.exportFormat = value;
      ok = value == "csv" || value == "json";
    } else {
      error = "unknown option " + name;
      return std::nullopt;
    }
    if (!ok) {
      error = "bad value for " + name + ": " + value;
      return std::nullopt;
    }
  }
  if (options.exportUsage != (from && to)) {
    error = options.exportUsage ? "--export-usage needs --from and --to" : "--from and --to go with --export-usage";
    return std::nullopt;
  }
  if (options.exportUsage) {
    constexpr int64_t kDay = 86400;
    options.exportFrom = *from;
    options.exportTo = *to + kDay;
    if (*to < *from) {
      error = "--to is before --from";
      return std::nullopt;
    }
  }
  if (options.fleetStatus && options.store.empty()) {
    error = "--fleet-status needs the fleet's --store";
    return std::nullopt;
  }
  if (!options.helperName.empty() && options.helperCommand != HelperCommand::trust) {
    error = "--name goes with --trust-helper";
    return std::nullopt;
  }
  return options;
}

}  // namespace plimo
