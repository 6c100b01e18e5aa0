// plimo-server: the rendezvous and relay server Plimo clients register with.

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <asio/signal_set.hpp>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "core/AsioLoop.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/crypto/SigningKey.h"
#include "server/DescriptorLimit.h"
#include "server/FleetStatus.h"
#include "server/PgFleetMail.h"
#include "server/HelperCommands.h"
#include "server/RelayServer.h"
#include "server/ServerLog.h"
#include "server/ServerNetwork.h"
#include "server/ServerOptions.h"
#include "server/ServerStore.h"
#include "server/UsageExport.h"

using namespace plimo;

namespace {

// Clients keep the first four fallback ports they are told about.
constexpr size_t kClientPortLimit = 4;
// TCP is the fallback of a few clients behind UDP-blocking firewalls; each
// connection may hold up to 64 KB of an unfinished frame, so their number is
// capped well below the session cap.
constexpr size_t kMaxTcpConnections = 10000;
// Descriptors kept for everything but connections: the UDP socket, the
// listeners, the database's two connections and their journals, the log,
// the key file.
constexpr size_t kReservedDescriptors = 64;
// How long a read on the server loop waits for a lock, in milliseconds: it
// stalls relaying for everyone meanwhile.
constexpr int kLoopReadWait = 50;

// One serving process per data folder: a second would hand out the IDs the
// first one holds online. The lock lasts as long as the process (the
// descriptor stays open).
bool holdDataFolder(const std::string& dir) {
  int fd = ::open((dir + "/plimo-server.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  return fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
}

std::optional<SigningKey> loadOrCreateKey(const std::string& path, ServerLog& log) {
  if (std::filesystem::exists(path)) {
    auto key = SigningKey::loadPemFile(path);
    if (!key) log.line("Cannot read the server key " + path + "; not starting (move it away to make a new key)");
    return key;
  }
  SigningKey key = SigningKey::generate();
  if (!key.savePemFile(path)) {
    log.line("Cannot write the server key " + path);
    return std::nullopt;
  }
  log.line("Made a new server key in " + path);
  return key;
}

// The store the export and helper commands work on; a wrong --data would
// otherwise show an empty new database.
Result<std::unique_ptr<ServerStore>> openExistingStore(const ServerOptions& options) {
  if (options.store.empty() && !std::filesystem::exists(options.storeLocation())) {
    return Failed{"no database in " + options.dataDir + " (give the --data folder of the server)"};
  }
  return ServerStore::open(options.storeLocation());
}

// --key: the fleet's one key, made once and copied to each server; a server
// never makes one there (it would present a key the clients do not pin).
std::optional<SigningKey> loadSharedKey(const std::string& path, ServerLog& log) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    log.line("Cannot find the server key " + path + "; not starting");
    return std::nullopt;
  }
  if ((st.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%03o", unsigned(st.st_mode & 0777));
    log.line("The server key " + path + " may be read by other users (mode " + mode +
             "); not starting: chmod 600 it, owned by the server's user");
    return std::nullopt;
  }
  auto key = SigningKey::loadPemFile(path);
  if (!key) log.line("Cannot read the server key " + path + "; not starting");
  return key;
}

// The address the other servers of a fleet reach this one at: the one it is
// bound to, else the first address its host name has that is not loopback
// (Debian names the host 127.0.1.1 in /etc/hosts), else its first
// interface's that is not.
std::string fleetAddress(const std::string& bindAddress) {
  if (!bindAddress.empty()) return bindAddress;
  auto outside = [](const sockaddr* a) {
    if (!a || a->sa_family != AF_INET) return std::string();
    in_addr ip = reinterpret_cast<const sockaddr_in*>(a)->sin_addr;
    char text[INET_ADDRSTRLEN] = {};
    if ((ntohl(ip.s_addr) >> 24) == 127 || !::inet_ntop(AF_INET, &ip, text, sizeof text)) return std::string();
    return std::string(text);
  };
  std::string address;
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host, nullptr, &hints, &found) == 0) {
    for (addrinfo* a = found; a && address.empty(); a = a->ai_next) address = outside(a->ai_addr);
    ::freeaddrinfo(found);
  }
  ifaddrs* interfaces = nullptr;
  if (address.empty() && ::getifaddrs(&interfaces) == 0) {
    for (ifaddrs* i = interfaces; i && address.empty(); i = i->ifa_next) address = outside(i->ifa_addr);
    ::freeifaddrs(interfaces);
  }
  return address.empty() ? "127.0.0.1" : address;
}

// --export-usage: the database of a server that may be running, read beside it.
int exportUsage(const ServerOptions& options) {
  auto format = options.exportFormat == "json" ? UsageExport::Format::json : UsageExport::Format::csv;
  auto store = openExistingStore(options);
  Result<void> written = store ? UsageExport::write(**store, options.exportFrom, options.exportTo, format, std::cout)
                               : Result<void>(Failed{store.error()});
  if (!written) {
    std::fprintf(stderr, "plimo-server: cannot export the usage: %s\n", written.error().c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  auto options = ServerOptions::parse(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!options) {
    if (!error.empty()) std::fprintf(stderr, "plimo-server: %s\n", error.c_str());
    std::fputs(ServerOptions::usage().c_str(), error.empty() ? stdout : stderr);
    return error.empty() ? 0 : 2;
  }
  if (options->exportUsage) return exportUsage(*options);
  if (options->fleetStatus) {
    auto store = ServerStore::open(options->storeLocation());
    if (store && options->staleAfter) (*store)->setStaleAfter(options->staleAfter);
    Result<void> shown = store ? FleetStatus::write(**store, int64_t(std::time(nullptr)), std::cout)
                               : Result<void>(Failed{store.error()});
    if (!shown) std::fprintf(stderr, "plimo-server: cannot show the fleet: %s\n", shown.error().c_str());
    return shown ? 0 : 1;
  }

  std::error_code ec;
  std::filesystem::create_directories(options->dataDir, ec);
  if (ec) {
    std::fprintf(stderr, "plimo-server: cannot make the data folder %s: %s\n", options->dataDir.c_str(),
                 ec.message().c_str());
    return 1;
  }
  // The folder holds the private key.
  ::chmod(options->dataDir.c_str(), 0700);

  ServerLog log(options->logFile.empty() ? options->dataDir + "/plimo-server.log" : options->logFile);
  if (options->helperCommand != ServerOptions::HelperCommand::none) {
    // Trusting the first helper may make the database; the others read one.
    auto store = options->helperCommand == ServerOptions::HelperCommand::trust
                     ? ServerStore::open(options->storeLocation())
                     : openExistingStore(*options);
    if (!store) {
      std::fprintf(stderr, "plimo-server: cannot open the database: %s\n", store.error().c_str());
      return 1;
    }
    return runHelperCommand(*options, **store, log, stdout);
  }
  if (!holdDataFolder(options->dataDir)) {
    log.line("Another plimo-server serves from " + options->dataDir + "; not starting");
    return 1;
  }
  log.line("plimo-server starting, data in " + options->dataDir +
           (options->store.empty() ? "" : ", the fleet's store in PostgreSQL"));

  auto key = options->keyFile.empty() ? loadOrCreateKey(options->dataDir + "/server-key.pem", log)
                                      : loadSharedKey(options->keyFile, log);
  if (!key) return 1;
  // Two connections: the store thread writes on one, the loop reads on the
  // other (readers never wait for a writer).
  auto opened = ServerStore::open(options->storeLocation());
  auto openedReads = opened ? ServerStore::open(options->storeLocation())
                            : Result<std::unique_ptr<ServerStore>>(Failed{opened.error()});
  if (!openedReads) {
    log.line("Cannot open the database: " + openedReads.error());
    return 1;
  }
  std::unique_ptr<ServerStore> store = std::move(*opened), loopReads = std::move(*openedReads);
  // Only a process holding the database in exclusive locking mode makes a
  // reader wait; the loop then answers as if the entry were refused (an ID
  // kept, a helper not trusted) rather than stall relaying.
  loopReads->waitForLocks(kLoopReadWait);
  log.line("Server key fingerprint: " + PlimoCrypto::keyFingerprint(key->publicKey()));
  log.line("[Relay] Key for Plimo.ini: " + PlimoCrypto::hex(key->publicKey()));

  size_t descriptors = raiseDescriptorLimit();
  size_t spare = descriptors > kReservedDescriptors ? descriptors - kReservedDescriptors : 1;
  size_t maxTcp = std::min({options->maxSessions, kMaxTcpConnections, spare});
  log.line("Up to " + std::to_string(maxTcp) + " TCP connections (" + std::to_string(descriptors) +
           " file descriptors)");
  AsioLoop loop;
  ServerNetwork network(loop.context(), loop, maxTcp);
  uint32_t bindIP = 0;
  if (!options->bindAddress.empty()) parseIPv4(options->bindAddress, bindIP);
  network.bindTo(bindIP);
  if (!network.openUdp(options->udpPort, error)) {
    log.line("Cannot use UDP port " + std::to_string(options->udpPort) + ": " + error);
    return 1;
  }
  RelayConfig config;
  if (!options->store.empty()) {
    // The servers of a fleet tell each other apart by host (or address,
    // where one machine holds several) and port.
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    std::string machine = options->bindAddress.empty() ? std::string(host) : options->bindAddress;
    config.serverName = machine + ":" + std::to_string(options->udpPort);
  }
  if (options->staleAfter) {
    store->setStaleAfter(options->staleAfter);
    loopReads->setStaleAfter(options->staleAfter);
    config.heartbeat = double(options->staleAfter) / 3;
  }
  config.udpPort = options->udpPort;
  config.maxSessions = options->maxSessions;
  config.handshakeRate = options->handshakeRate;
  config.handshakeShare = options->handshakeShare;
  config.handshakeThread = true;
  config.storeWork = StoreWorker::Mode::threaded;
  for (uint16_t port : options->tcpPorts) {
    if (network.openTcp(port, error)) {
      config.tcpPorts.push_back(port);
    } else {
      // Ports below 1024 need root or CAP_NET_BIND_SERVICE; the others still serve.
      log.line("Cannot listen on TCP " + std::to_string(port) + ": " + error);
    }
  }
  if (config.tcpPorts.size() > kClientPortLimit) {
    log.line("Clients use only the first " + std::to_string(kClientPortLimit) + " TCP fallback ports");
  }

  RelayServer server(loop, *store, *key, network, config, [&log](const std::string& text) { log.line(text); },
                     loopReads.get());
  std::unique_ptr<PgFleetMail> fleetMail;
  if (!config.serverName.empty()) {
    fleetMail = std::make_unique<PgFleetMail>(
        loop, options->store, config.serverName, [&server](const std::string& line) { server.fleetLine(line); },
        [&log](const std::string& text) { log.line(text); });
    server.joinFleet(*fleetMail);
    if (!network.openFleetUdp(
            options->fleetPort, [&server](const Endpoint& from, ByteView packet) { server.fleetPacket(from, packet); },
            error)) {
      log.line("Cannot use UDP port " + std::to_string(options->fleetPort) + " for the fleet: " + error);
      return 1;
    }
    std::string relay = fleetAddress(options->bindAddress) + ":" + std::to_string(network.fleetPort());
    server.relayThroughFleet(network.fleetSink(), relay);
    log.line("The fleet's servers relay to UDP " + relay);
  }
  network.setHandlers([&server](const Endpoint& from, ByteView packet) { server.receive(from, packet); },
                      [&server](const Endpoint& from) { server.connectionClosed(from); });

  asio::signal_set signals(loop.context(), SIGINT, SIGTERM);
  signals.async_wait([&](const std::error_code& e, int) {
    if (!e) log.line("Stopping");
    server.stop();
    loop.stop();
  });

  std::string only = options->bindAddress.empty() ? "" : " on " + options->bindAddress + " only";
  log.line("Listening on UDP " + std::to_string(options->udpPort) + ", TCP " + serverPortsText(config.tcpPorts) +
           only);
  loop.run();
  return 0;
}
