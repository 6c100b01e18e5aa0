// server_load: starts plimo-server as a process and loads it over loopback
// UDP with a protocol-speaking client. Prints one JSON object per figure:
//   server_handshakes_per_second  welcomes the server completes a second (its
//                                 one loop thread; handshakes made beforehand)
//   server_handshakes_per_cpu_second  the same per second of the server's
//                                 own CPU time (one core fully used)
// (The relay rate between partners is bench/rendezvous/relay_rate.)
//   server_rss_idle_kb            resident memory right after start
//   server_rss_kb                 resident memory with N registered clients
//   server_rss_per_client_bytes   the difference, per client
// Usage: server_load [--server PATH] [--clients N] [--handshakes N]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "e2e/NetClient.h"
#include "e2e/Process.h"
#include "server/ClientCodec.h"

using namespace plimo;
using namespace plimo::e2e;

namespace {

using Clock = std::chrono::steady_clock;

long rssKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// A UDP socket bound to its own loopback address, so every client is a
// different endpoint to the server (and the kernel never reuses one).
int socketAt(uint32_t ip) {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(ip);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  return fd;
}

// User plus system CPU seconds the process has used.
double cpuSeconds(pid_t pid) {
  std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  size_t at = stat.rfind(')');
  if (at == std::string::npos) return 0;
  std::istringstream fields(stat.substr(at + 2));
  std::string skip;
  for (int i = 0; i < 11; ++i) fields >> skip;  // state .. cmajflt
  double utime = 0, stime = 0;
  fields >> utime >> stime;
  return (utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

sockaddr_in serverAddress(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

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
  for (uint32_t i = 0; i < 64; ++i) fds.push_back(socketAt(0x7F010000 + i + 1));
  sockaddr_in to = serverAddress(port);
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
  sockaddr_in to = serverAddress(port);
  int registered = 0;
  for (int i = 0; i < count; ++i) {
    // 127.2.x.y: 250 per third byte.
    int fd = socketAt(0x7F020000 + uint32_t(i / 250) * 256 + uint32_t(i % 250) + 1);
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
  pid_t pid = 0;
  {
    // The child's pid, from /proc: the one whose command line names our port.
    for (auto& entry : std::filesystem::directory_iterator("/proc")) {
      std::string cmd = readFile(entry.path().string() + "/cmdline");
      if (cmd.find("plimo-server") != std::string::npos && cmd.find(std::to_string(udp)) != std::string::npos) {
        pid = pid_t(std::stoi(entry.path().filename().string()));
      }
    }
  }
  long idle = rssKb(pid);
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
  long before = rssKb(pid);
  std::vector<int> keep;
  auto start = Clock::now();
  int registered = registerClients(udp, clients, keep);
  double took = std::chrono::duration<double>(Clock::now() - start).count();
  long loaded = rssKb(pid);
  figure("server_rss_kb", double(loaded), "kB",
         ", \"clients\": " + std::to_string(registered) + ", \"register_seconds\": " + std::to_string(took));
  figure("server_rss_per_client_bytes", registered ? (loaded - before) * 1024.0 / registered : 0, "B");
  for (int fd : keep) ::close(fd);
  return registered == clients ? 0 : 1;
}
