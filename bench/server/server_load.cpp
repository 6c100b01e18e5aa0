// server_load: starts plimo-server as a process and loads it over loopback
// UDP with a protocol-speaking client. Prints one JSON object per figure:
//   server_handshakes_per_second  welcomes the server completes a second (its
//                                 key worker beside its loop; handshakes made
//                                 beforehand)
//   server_handshakes_per_cpu_second  the same per second of the server's
//                                 own CPU time, all its threads (per core)
// (The relay rate between partners is bench/rendezvous/relay_rate.)
//   server_rss_idle_kb            resident memory right after start
//   server_rss_kb                 resident memory with N registered clients
//   server_rss_per_client_bytes   the difference, per client
//   server_hello_ms_under_flood_median, _max  a registered client's HELLO
//                                 answered while forged traffic floods a
//                                 server with its default budgets
//   server_stun_answers_per_second_one_source  STUN Binding answers to one
//                                 source address sending 20,000 requests as
//                                 fast as it can (a forged source's victim)
//   server_stun_bytes_out_percent_of_in  the bytes of those answers for
//                                 the bytes of the requests
// With --fleet N (and PLIMO_TEST_POSTGRES, scripts/test-services), instead:
// N clients over two servers of a fleet on PostgreSQL (127.0.0.2 and
// 127.0.0.3), half on each, kept alive by HELLO every 20 s:
//   fleet_server_rss_per_client_bytes  each server's resident memory for its clients
//   fleet_pg_transactions_per_registration, _per_keepalive  the database's
//                                 committed transactions (pg_stat_database),
//                                 every statement of the servers being one
// Usage: server_load [--server PATH] [--clients N] [--handshakes N] [--fleet N]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/Flood.h"
#include "e2e/NetClient.h"
#include "e2e/Process.h"
#include "protocol/wire/Stun.h"
#include "protocol/crypto/SigningKey.h"
#include "server/ClientCodec.h"
#include "server/PgConnection.h"
#include "server/StoreEngines.h"

using namespace plimo;
using namespace plimo::e2e;

namespace {

using Clock = std::chrono::steady_clock;

std::optional<Bytes> receiveOn(int fd, int milliseconds) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, milliseconds) <= 0) return std::nullopt;
  uint8_t buffer[2048];
  ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
  if (n <= 0) return std::nullopt;
  return Bytes(buffer, buffer + n);
}

double measureHandshakes(uint16_t port, int count) {
  testkit::ClientCodec codec;
  std::vector<Bytes> packets;
  for (int i = 0; i < count; ++i) packets.push_back(codec.handshake());
  // 64 sources, a window of outstanding handshakes so the socket buffers
  // never overflow.
  std::vector<int> fds;
  for (uint32_t i = 0; i < 64; ++i) fds.push_back(socketAt(SOCK_DGRAM, 0x7F010000 + i + 1));
  sockaddr_in to = loopback(port);
  constexpr int kWindow = 128;
  int sent = 0, answered = 0, outstanding = 0;
  auto start = Clock::now();
  auto lastProgress = start;
  while (answered < count && sent <= count) {
    while (outstanding < kWindow && sent < count) {
      Bytes& p = packets[size_t(sent)];
      ::sendto(fds[size_t(sent) % fds.size()], p.data(), p.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
      ++sent;
      ++outstanding;
    }
    std::vector<pollfd> polls;
    for (int fd : fds) polls.push_back({fd, POLLIN, 0});
    if (::poll(polls.data(), polls.size(), 50) > 0) {
      for (auto& p : polls) {
        if (!(p.revents & POLLIN)) continue;
        uint8_t buffer[2048];
        while (::recv(p.fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
          if (buffer[0] == 0x11) {
            ++answered;
            --outstanding;
            lastProgress = Clock::now();
          }
        }
      }
    }
    if (Clock::now() - lastProgress > std::chrono::seconds(1)) {
      if (sent >= count) break;  // the rest were lost
      outstanding = 0;
      lastProgress = Clock::now();
    }
  }
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (int fd : fds) ::close(fd);
  return answered / seconds;
}

// Registers `count` clients, each from its own address; returns how many
// got an ID. Their sockets stay open while `keep` lives.
int registerClients(uint16_t port, int count, std::vector<int>& keep) {
  sockaddr_in to = loopback(port);
  int registered = 0;
  for (int i = 0; i < count; ++i) {
    // 127.2.x.y: 250 per third byte.
    int fd = socketAt(SOCK_DGRAM, 0x7F020000 + uint32_t(i / 250) * 256 + uint32_t(i % 250) + 1);
    keep.push_back(fd);
    testkit::ClientCodec codec;
    bool welcomed = false;
    for (int attempt = 0; attempt < 3 && !welcomed; ++attempt) {
      Bytes h = codec.handshake();
      ::sendto(fd, h.data(), h.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
      while (auto p = receiveOn(fd, 1000)) {
        if (codec.welcome(*p)) {
          welcomed = true;
          break;
        }
      }
    }
    if (!welcomed) continue;
    Bytes hello = codec.seal("HELLO 0 192.168.1.20 40000 " + std::string(128, 'A') + " 127.0.0.1 0");
    ::sendto(fd, hello.data(), hello.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    while (auto p = receiveOn(fd, 1000)) {
      auto line = codec.open(*p);
      if (line && line->rfind("ID ", 0) == 0) {
        ++registered;
        break;
      }
    }
  }
  return registered;
}

void figure(const char* name, double value, const char* unit, const std::string& extra = "") {
  std::printf("{\"figure\": \"%s\", \"value\": %.1f, \"unit\": \"%s\"%s}\n", name, value, unit, extra.c_str());
  std::fflush(stdout);
}

// A server with its default budgets under a flood of forged handshakes and
// garbage (about 15,000 packets a second): how long a registered client's
// HELLO waits for its ID, over 100 tries.
void helloUnderFlood(const std::string& server, const TempDir& dir) {
  uint16_t udp = freePort(SOCK_DGRAM);
  Process process(server, {"--udp-port", std::to_string(udp), "--tcp-ports", "none", "--data", dir / "flood"},
                  dir / "flood.txt");
  if (!process.waitForOutput("Listening on UDP", 20)) return;
  NetClient client(udp, false);
  std::string id = client.registerAs();
  if (id.empty()) return;
  Flood flood(udp, 150);
  std::vector<double> ms;
  for (int i = 0; i < 100; ++i) {
    auto start = Clock::now();
    auto lines = client.say("HELLO " + id + " 127.0.0.1 1 " + std::string(128, 'A') + " 127.0.0.1 0", "ID ");
    if (!lines.empty() && lines.back().rfind("ID ", 0) == 0) {
      ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::sort(ms.begin(), ms.end());
  std::string answered = ", \"answered\": " + std::to_string(ms.size()) + ", \"tries\": 100";
  figure("server_hello_ms_under_flood_median", ms.empty() ? -1 : ms[ms.size() / 2], "ms", answered);
  figure("server_hello_ms_under_flood_max", ms.empty() ? -1 : ms.back(), "ms");
}

void stunFlood(const std::string& server, const TempDir& dir) {
  uint16_t udp = freePort(SOCK_DGRAM);
  Process process(server, {"--udp-port", std::to_string(udp), "--tcp-ports", "none", "--data", dir / "stun"},
                  dir / "stun.txt");
  if (!process.waitForOutput("Listening on UDP", 20)) return;
  int fd = socketAt(SOCK_DGRAM, 0x7F040001);
  sockaddr_in to = loopback(udp);
  Bytes request = Stun::bindingRequest(Stun::randomTransactionId());
  constexpr int kRequests = 20000;
  size_t answers = 0, answerBytes = 0;
  auto drain = [&](int milliseconds) {
    while (auto answer = receiveOn(fd, milliseconds)) {
      ++answers;
      answerBytes += answer->size();
    }
  };
  auto start = Clock::now();
  for (int i = 0; i < kRequests; ++i) {
    ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    drain(0);
  }
  drain(200);
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  ::close(fd);
  figure("server_stun_answers_per_second_one_source", double(answers) / seconds, "1/s",
         ", \"answers\": " + std::to_string(answers) + ", \"requests\": " + std::to_string(kRequests) +
             ", \"seconds\": " + std::to_string(seconds));
  figure("server_stun_bytes_out_percent_of_in", 100.0 * double(answerBytes) / double(kRequests * request.size()), "%",
         ", \"answer_bytes\": " + std::to_string(answers ? answerBytes / answers : 0) +
             ", \"request_bytes\": " + std::to_string(request.size()));
}

// One simulated client of a fleet's server: its codec kept, its socket
// opened only to send (the bench has fewer descriptors than clients).
struct FleetClient {
  uint32_t ip;
  testkit::ClientCodec codec;
};

int sendFrom(uint32_t ip, const sockaddr_in& to, ByteView packet) {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in at = loopback(40000);
  at.sin_addr.s_addr = htonl(ip);
  ::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at);
  ::sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  return fd;
}

const std::string kHello = "HELLO 0 192.168.1.20 40000 " + std::string(128, 'A') + " 127.0.0.1 0";

// Handshake and HELLO from (ip, 40000); true when an ID came back.
bool registerOnce(FleetClient& client, const sockaddr_in& to) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd = sendFrom(client.ip, to, client.codec.handshake());
    bool welcomed = false;
    while (auto p = receiveOn(fd, 1000)) {
      if ((welcomed = client.codec.welcome(*p))) break;
    }
    if (welcomed) {
      Bytes hello = client.codec.seal(kHello);
      ::sendto(fd, hello.data(), hello.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
      while (auto p = receiveOn(fd, 1000)) {
        auto line = client.codec.open(*p);
        if (line && line->rfind("ID ", 0) == 0) {
          ::close(fd);
          return true;
        }
      }
    }
    ::close(fd);
  }
  return false;
}

int64_t committed(PgConnection& pg) {
  std::this_thread::sleep_for(std::chrono::seconds(2));  // the statistics' flush
  (void)pg.run("SELECT pg_stat_clear_snapshot()");
  auto rows = pg.run("SELECT xact_commit FROM pg_stat_database WHERE datname = current_database()");
  return rows ? rows->number(0, 0) : 0;
}

int fleetLoad(const std::string& server, const TempDir& dir, int clients) {
  testkit::PgTestSchema pg;
  if (pg.where().empty()) {
    std::fprintf(stderr, "server_load --fleet: %s\n", pg.missing().c_str());
    return 1;
  }
  auto stats = PgConnection::open(pg.where());
  const std::string key = dir / "fleet-key.pem";
  if (!stats || !SigningKey::generate().savePemFile(key)) return 1;
  uint16_t udp = freePort(SOCK_DGRAM);
  const uint32_t ips[2] = {0x7F000002, 0x7F000003};
  std::vector<std::unique_ptr<Process>> servers;
  for (int i = 0; i < 2; ++i) {
    std::string name = i ? "b" : "a";
    servers.push_back(std::make_unique<Process>(
        server,
        std::vector<std::string>{"--udp-port", std::to_string(udp), "--tcp-ports", "none", "--data", dir / name,
                                 "--store", pg.where(), "--key", key, "--bind", i ? "127.0.0.3" : "127.0.0.2",
                                 "--fleet-port", "0", "--handshake-rate", "1000000", "--handshake-share", "100",
                                 "--max-sessions", std::to_string(clients + 1000)},
        dir / (name + ".txt")));
    if (!servers.back()->waitForOutput("Listening on UDP", 20)) {
      std::fprintf(stderr, "plimo-server did not start:\n%s\n", servers.back()->output().c_str());
      return 1;
    }
  }
  sockaddr_in to[2];
  long before[2];
  for (int i = 0; i < 2; ++i) {
    to[i] = loopback(udp);
    to[i].sin_addr.s_addr = htonl(ips[i]);
    before[i] = residentKb(servers[size_t(i)]->pid());
  }
  // Sources 127.2.x.y for A's clients, 127.3.x.y for B's, 250 per third byte.
  std::vector<FleetClient> all;
  all.reserve(size_t(clients));
  for (int i = 0; i < clients; ++i) {
    uint32_t n = uint32_t(i / 2);
    all.push_back({(i % 2 ? 0x7F030000u : 0x7F020000u) + n / 250 * 256 + n % 250 + 1, {}});
  }
  auto keepAlive = [&](size_t upTo) {
    for (size_t i = 0; i < upTo; ++i) ::close(sendFrom(all[i].ip, to[i % 2], all[i].codec.seal(kHello)));
  };
  int64_t q0 = committed(**stats);
  auto start = Clock::now(), lastBeat = start;
  int registered = 0;
  for (size_t i = 0; i < all.size(); ++i) {
    registered += registerOnce(all[i], to[i % 2]);
    if (Clock::now() - lastBeat > std::chrono::seconds(20)) {
      keepAlive(i);
      lastBeat = Clock::now();
    }
  }
  double took = std::chrono::duration<double>(Clock::now() - start).count();
  int64_t q1 = committed(**stats);
  keepAlive(all.size());
  int64_t q2 = committed(**stats);
  std::string extra = ", \"clients\": " + std::to_string(registered) + ", \"register_seconds\": " + std::to_string(took);
  for (int i = 0; i < 2; ++i) {
    long loaded = residentKb(servers[size_t(i)]->pid());
    figure("fleet_server_rss_per_client_bytes", (loaded - before[i]) * 1024.0 / (registered / 2.0), "B",
           ", \"server\": \"" + std::string(i ? "b" : "a") + "\", \"rss_kb\": " + std::to_string(loaded) + extra);
  }
  // A heartbeat or two of each server fall in each window; they are not the clients'.
  figure("fleet_pg_transactions_per_registration", double(q1 - q0) / registered, "1");
  figure("fleet_pg_transactions_per_keepalive", double(q2 - q1) / registered, "1");
  return registered == clients ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string server = (std::filesystem::path(argv[0]).parent_path() / "../../server/plimo-server").string();
  int clients = 10000;
  int handshakes = 20000;
  int fleet = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string name = argv[i];
    if (name == "--server") server = argv[i + 1];
    if (name == "--clients") clients = std::stoi(argv[i + 1]);
    if (name == "--handshakes") handshakes = std::stoi(argv[i + 1]);
    if (name == "--fleet") fleet = std::stoi(argv[i + 1]);
  }
  TempDir dir("load");
  if (fleet) return fleetLoad(server, dir, fleet);
  uint16_t udp = freePort(SOCK_DGRAM);
  Process process(server,
                  {"--udp-port", std::to_string(udp), "--tcp-ports", "none", "--data", dir / "data",
                   "--handshake-rate", "1000000", "--handshake-share", "100", "--max-sessions", std::to_string(clients * 2 + 1000)},
                  dir / "out.txt");
  if (!process.waitForOutput("Listening on UDP", 20)) {
    std::fprintf(stderr, "plimo-server did not start:\n%s\n", process.output().c_str());
    return 1;
  }
  pid_t pid = process.pid();
  long idle = residentKb(pid);
  figure("server_rss_idle_kb", double(idle), "kB");

  double cpuBefore = cpuSeconds(pid);
  double rate = measureHandshakes(udp, handshakes);
  double cpu = cpuSeconds(pid) - cpuBefore;
  figure("server_handshakes_per_second", rate, "1/s", ", \"handshakes\": " + std::to_string(handshakes));
  // On a shared machine the wall-clock rate depends on the neighbours; the
  // server's own CPU time per handshake does not.
  figure("server_handshakes_per_cpu_second", cpu > 0 ? handshakes / cpu : 0, "1/s");

  // The handshake run leaves sessions that expire after 10 s unanswered.
  std::this_thread::sleep_for(std::chrono::seconds(12));
  long before = residentKb(pid);
  std::vector<int> keep;
  auto start = Clock::now();
  int registered = registerClients(udp, clients, keep);
  double took = std::chrono::duration<double>(Clock::now() - start).count();
  long loaded = residentKb(pid);
  figure("server_rss_kb", double(loaded), "kB",
         ", \"clients\": " + std::to_string(registered) + ", \"register_seconds\": " + std::to_string(took));
  figure("server_rss_per_client_bytes", registered ? (loaded - before) * 1024.0 / registered : 0, "B");
  for (int fd : keep) ::close(fd);
  process.stop();
  helloUnderFlood(server, dir);
  stunFlood(server, dir);
  return registered == clients ? 0 : 1;
}
