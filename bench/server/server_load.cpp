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
// Usage: server_load [--server PATH] [--clients N] [--handshakes N]

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
#include "server/ClientCodec.h"

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

}  // namespace

int main(int argc, char** argv) {
  std::string server = (std::filesystem::path(argv[0]).parent_path() / "../../server/plimo-server").string();
  int clients = 10000;
  int handshakes = 20000;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string name = argv[i];
    if (name == "--server") server = argv[i + 1];
    if (name == "--clients") clients = std::stoi(argv[i + 1]);
    if (name == "--handshakes") handshakes = std::stoi(argv[i + 1]);
  }
  TempDir dir("load");
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
