// fleet_bench: the store's share of registering and introducing clients, in
// process on one core (virtual time, the store's writes inline on the loop,
// so that they count): one server on SQLite, one on PostgreSQL, and two
// servers sharing PostgreSQL with the clients split between them. One JSON
// object per figure:
//   fleet_<store>_registrations_per_s   handshake and first HELLO
//   fleet_<store>_connect_to_peer_us    CONNECT to the PEER lines, one server
//   fleet_postgresql_across_servers_connect_to_peer_us  the same from a helper
//                                       on one server to a PC on the other,
//                                       through PostgreSQL's NOTIFY both ways
//   fleet_<store>_queries_per_registration, _per_keepalive  PostgreSQL
//                                       statements (none per keep-alive)
// Usage: fleet_bench [N] with PLIMO_TEST_POSTGRES set (scripts/test-services).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "server/PgConnection.h"
#include "server/PgFleetMail.h"
#include "server/ServerRig.h"
#include "server/StoreEngines.h"

using namespace plimo;
using namespace plimo::testkit;

namespace {

using Clock = std::chrono::steady_clock;

void figure(const std::string& name, double value) { std::printf("{\"%s\": %.2f}\n", name.c_str(), value); }

double seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

RelayConfig benchConfig(const std::string& name) {
  RelayConfig c = testConfig();
  c.serverName = name;
  c.maxSessions = 1000000;
  c.maxSessionsPerAddress = 1000000;
  return c;
}

// Returns the clients, registered in turn on each server.
std::vector<std::unique_ptr<RigClient>> run(const std::string& label, std::vector<ServerRig*> servers, int clients,
                                            std::vector<std::string>& ids) {
  std::vector<std::unique_ptr<RigClient>> all;
  uint64_t q0 = PgConnection::statementsRun();
  auto start = Clock::now();
  for (int i = 0; i < clients; ++i) {
    ServerRig& rig = *servers[size_t(i) % servers.size()];
    Endpoint at = RigClient::udp(uint16_t(10000 + i / 200), 0x0A000000u + uint32_t(i));
    all.push_back(std::make_unique<RigClient>(rig, at));
    ids.push_back(all.back()->registerAs());
    if (ids.back().empty()) std::fprintf(stderr, "%s: client %d got no ID\n", label.c_str(), i);
  }
  double took = seconds(start);
  figure("fleet_" + label + "_registrations_per_s", clients / took);
  figure("fleet_" + label + "_queries_per_registration", double(PgConnection::statementsRun() - q0) / clients);

  uint64_t q1 = PgConnection::statementsRun();
  for (auto& c : all) {
    c->say("HELLO 0 192.168.1.20 40000 " + std::string(128, 'A') + " 127.0.0.1 0");
    c->say("PING 1234ABCD");
  }
  figure("fleet_" + label + "_queries_per_keepalive", double(PgConnection::statementsRun() - q1) / clients);

  // Pairs on the first server: the first half of its clients connects to the second.
  std::vector<size_t> mine;
  for (size_t i = 0; i < all.size(); i += servers.size()) mine.push_back(i);
  size_t pairs = mine.size() / 2;
  start = Clock::now();
  for (size_t i = 0; i < pairs; ++i) {
    auto lines = all[mine[i]]->say("CONNECT " + ids[mine[pairs + i]] + " 192.168.1.20 40000 " + std::string(128, 'A'));
    if (lines.empty() || lines.back().rfind("PEER", 0) != 0) std::fprintf(stderr, "%s: no PEER\n", label.c_str());
  }
  figure("fleet_" + label + "_connect_to_peer_us", seconds(start) * 1e6 / double(pairs ? pairs : 1));
  return all;
}

// Each helper on `a` (even clients) asks for the PC after it on `b`, one at
// a time, the answer carried by PostgreSQL.
void across(ServerRig& a, ServerRig& b, std::vector<std::unique_ptr<RigClient>>& all,
            const std::vector<std::string>& ids, const std::string& where) {
  PgFleetMail mailA(a.loop, where, "a", [&a](const std::string& l) { a.server.fleetLine(l); }, [](std::string) {});
  PgFleetMail mailB(b.loop, where, "b", [&b](const std::string& l) { b.server.fleetLine(l); }, [](std::string) {});
  a.server.joinFleet(mailA);
  b.server.joinFleet(mailB);
  // Both listen once connected: what is sent before that is lost.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  size_t pairs = std::min<size_t>(all.size() / 2, 200), done = 0;
  auto start = Clock::now();
  for (size_t i = 0; i < pairs; ++i) {
    RigClient& helper = *all[2 * i];
    helper.say("CONNECT " + ids[2 * i + 1] + " 192.168.1.20 40000 " + std::string(128, 'A'));
    auto asked = Clock::now();
    std::vector<std::string> lines;
    while (lines.empty() && seconds(asked) < 5) {
      a.loop.runPending();
      b.loop.runPending();
      lines = helper.lines();
    }
    if (!lines.empty() && lines.back().rfind("PEER", 0) == 0) ++done;
  }
  if (done < pairs) std::fprintf(stderr, "across servers: %zu of %zu without PEER\n", pairs - done, pairs);
  figure("fleet_postgresql_across_servers_connect_to_peer_us", seconds(start) * 1e6 / double(pairs ? pairs : 1));
}

}  // namespace

int main(int argc, char** argv) {
  int clients = argc > 1 ? std::atoi(argv[1]) : 2000;
  TempDir dir("fleet-bench");
  {
    ServerRig sqlite(benchConfig(""), SigningKey::generate(), openStore((dir / "plimo-server.db").string()));
    std::vector<std::string> ids;
    run("sqlite", {&sqlite}, clients, ids);
  }
  PgTestSchema pg;
  if (pg.where().empty()) {
    std::fprintf(stderr, "fleet_bench: %s\n", pg.missing().c_str());
    return 1;
  }
  {
    ServerRig one(benchConfig("a"), SigningKey::generate(), openStore(pg.where()));
    std::vector<std::string> ids;
    run("postgresql", {&one}, clients, ids);
  }
  {
    SigningKey key = SigningKey::generate();
    ServerRig a(benchConfig("a"), key, openStore(pg.where()));
    ServerRig b(benchConfig("b"), key, openStore(pg.where()));
    std::vector<std::string> ids;
    auto all = run("postgresql_two_servers", {&a, &b}, clients, ids);
    across(a, b, all, ids, pg.where());
  }
  return 0;
}
