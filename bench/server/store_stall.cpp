// store_stall: how long plimo-server (a process) keeps relaying and PING
// answers waiting while its database is busy. A probe pair relays one packet
// and pings after every partner-session command of other clients; the
// figures are the slowest probe (ms), one JSON object each:
//   server_store_locked_relay_max_ms, _pong_max_ms   another process holds
//                        the database (BEGIN EXCLUSIVE) for 3 s while three
//                        partner sessions start and end
//   server_store_records_relay_max_ms, _pong_max_ms  50 partner sessions
//                        start and end at once (150 usage-record writes)
//   server_store_reports_relay_max_ms, _pong_max_ms  with --reports N: the
//                        database held again for at least 3 s, a PIN
//                        waiting for it, and one client sending N REPORT
//                        lines (a probe after every 500)
// Usage: store_stall [--server PATH] [--reports N]

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "e2e/BenchServer.h"
#include "e2e/NetClient.h"
#include "protocol/wire/ReportPayload.h"

using namespace plimo;
using namespace plimo::e2e;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Slowest {
  double relay = 0, pong = 0;
  int probes = 0, lost = 0;
};

// One relayed packet from `from` to `to`, then a PING from `from`.
void probe(NetClient& from, NetClient& to, Slowest& slowest) {
  ++slowest.probes;
  Bytes packet{0x14, 0xC0};
  packet.resize(1000, uint8_t(slowest.probes));
  auto start = Clock::now();
  from.send(packet);
  bool arrived = false;
  while (auto p = to.receive(5.0)) {
    if (p->size() == packet.size() && (*p)[0] == 0x14 && (*p)[2] == packet[2]) {
      arrived = true;
      break;
    }
  }
  // A probe lost counts as the wait it cost (at least 5 s).
  slowest.relay = std::max(slowest.relay, msSince(start));
  slowest.lost += !arrived;
  std::string token = "p" + std::to_string(slowest.probes);
  start = Clock::now();
  auto lines = from.say("PING " + token, "PONG " + token, 5.0);
  slowest.pong = std::max(slowest.pong, msSince(start));
  slowest.lost += lines.empty() || lines.back().rfind("PONG " + token, 0) != 0;
}

// A partner session of `helper` on `helped`, probed after each command.
void session(NetClient& helper, const std::string& helpedID, NetClient& from, NetClient& to, Slowest& slowest) {
  helper.connectTo(helpedID);
  helper.send(helper.codec.seal("SESSION START " + helpedID + " V"));
  probe(from, to, slowest);
  helper.send(helper.codec.seal("SESSION END"));
  probe(from, to, slowest);
}

// `count` complete one-piece reports from `flooder`, each under its own msgID.
void reportFlood(NetClient& flooder, int count, NetClient& from, NetClient& to, Slowest& slowest) {
  std::string payload = ReportPayload::toBase64(
      "R1\n1\n1700000000\n1700000600\n600\n222333444\nFront desk PC\nAnna\nACME\nanna@acme.test\n1\n15\nFixed.");
  for (int i = 0; i < count; ++i) {
    char msgID[9];
    std::snprintf(msgID, sizeof msgID, "%08x", i);
    flooder.send(flooder.codec.seal("REPORT " + std::string(msgID) + " 0 1 " + payload));
    if (i % 500 == 499) probe(from, to, slowest);
  }
}

bool holdDatabase(sqlite3*& db, const std::string& path) {
  if (sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
      sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK)
    return true;
  std::fprintf(stderr, "cannot lock %s\n", path.c_str());
  return false;
}

void releaseDatabase(sqlite3* db) {
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

void figures(const char* phase, const Slowest& s) {
  std::string extra = ", \"probes\": " + std::to_string(s.probes) + ", \"lost\": " + std::to_string(s.lost);
  std::printf("{\"figure\": \"server_store_%s_relay_max_ms\", \"value\": %.1f, \"unit\": \"ms\"%s}\n", phase,
              s.relay, extra.c_str());
  std::printf("{\"figure\": \"server_store_%s_pong_max_ms\", \"value\": %.1f, \"unit\": \"ms\"%s}\n", phase, s.pong,
              extra.c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::string server = (std::filesystem::path(argv[0]).parent_path() / "../../server/plimo-server").string();
  int reports = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--server") server = argv[i + 1];
    if (std::string(argv[i]) == "--reports") reports = std::stoi(argv[i + 1]);
  }
  TempDir dir("store-stall");
  uint16_t udp = freePort(SOCK_DGRAM);
  std::unique_ptr<Process> process = startBenchServer(server, dir.path(), udp);
  if (!process) return 1;
  NetClient from(udp, false), to(udp, false), helped(udp, false);
  std::string fromID = from.registerAs(), toID = to.registerAs(), helpedID = helped.registerAs();
  // A client may introduce itself five times at once: one helper for the
  // locked phase, ten for the 50 sessions after.
  std::vector<std::unique_ptr<NetClient>> helpers;
  for (int i = 0; i < 11; ++i) {
    helpers.push_back(std::make_unique<NetClient>(udp, false));
    if (helpers.back()->registerAs().empty()) return 1;
  }
  if (fromID.empty() || toID.empty() || helpedID.empty()) return 1;
  from.connectTo(toID);
  to.say("PING x", "PONG x");

  sqlite3* db = nullptr;
  std::string path = (dir / "data" / "plimo-server.db").string();
  if (!holdDatabase(db, path)) return 1;
  Slowest locked;
  auto lockedAt = Clock::now();
  for (int i = 0; i < 3; ++i) session(*helpers[0], helpedID, from, to, locked);
  while (msSince(lockedAt) < 3000) probe(from, to, locked);
  releaseDatabase(db);
  figures("locked", locked);

  if (reports > 0) {
    if (!holdDatabase(db, path)) return 1;
    Slowest flooded;
    lockedAt = Clock::now();
    helped.send(helped.codec.seal("PIN " + helpedID + " " + std::string(64, 'e')));
    reportFlood(*helpers[0], reports, from, to, flooded);
    while (msSince(lockedAt) < 3000) probe(from, to, flooded);
    releaseDatabase(db);
    figures("reports", flooded);
  }

  Slowest records;
  for (int round = 0; round < 5; ++round) {
    for (size_t h = 1; h < helpers.size(); ++h) session(*helpers[h], helpedID, from, to, records);
  }
  figures("records", records);
  return 0;
}
