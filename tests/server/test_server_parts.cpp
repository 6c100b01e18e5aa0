#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <thread>

#include "server/IdRegistry.h"
#include "server/RateLimiter.h"
#include "server/ServerOptions.h"
#include "server/ServerRig.h"
#include "server/SessionTable.h"
#include "server/StoreEngines.h"

using namespace plimo;

TEST(SessionTable, KeepsIdlenessOrderAndCapacities) {
  SessionTable table(2, 2);
  auto& a = table.add(Endpoint::udp(1, 1), 10);
  auto& b = table.add(Endpoint::udp(1, 2), 11);
  EXPECT_TRUE(table.full(false));
  EXPECT_EQ(table.idlest(false), &a);
  table.confirm(a);
  table.touch(a, 12);
  table.confirm(b);
  table.touch(b, 13);
  EXPECT_TRUE(table.full(true));
  EXPECT_FALSE(table.full(false));
  EXPECT_EQ(table.idlest(true), &a);
  table.touch(a, 14);
  EXPECT_EQ(table.idlest(true), &b);
  EXPECT_EQ(table.silentSince(true, 14), std::vector<uint64_t>{b.serial});
  EXPECT_EQ(table.silentSince(true, 15), (std::vector<uint64_t>{b.serial, a.serial}));

  uint64_t serialA = a.serial;
  table.remove(serialA);
  EXPECT_EQ(table.find(serialA), nullptr);
  EXPECT_EQ(table.find(Endpoint::udp(1, 1)), nullptr);
  // Serials are never reused.
  auto& c = table.add(Endpoint::udp(1, 1), 20);
  EXPECT_NE(c.serial, serialA);
  EXPECT_EQ(table.find(Endpoint::udp(1, 1)), &c);
  // TCP connections on the same address and port are different endpoints.
  EXPECT_EQ(table.find(Endpoint::tcp(1, 1, 3)), nullptr);
}

TEST(IdRegistry, AllocatesFreeNineDigitIDsAndHonoursLeases) {
  IdRegistry ids(100, 1000, 1000);
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    std::string id = ids.allocate(0, [](const std::string&) { return false; });
    ASSERT_TRUE(IdRegistry::isValid(id)) << id;
    EXPECT_TRUE(seen.insert(id).second);
    ids.bringOnline(id, uint64_t(i + 1));
  }
  EXPECT_EQ(ids.onlineCount(), 200u);
  // Nothing is free: no ID.
  EXPECT_EQ(ids.allocate(0, [](const std::string&) { return true; }), "");

  std::string id = *seen.begin();
  ids.takeOffline(id, 10, 1);
  EXPECT_EQ(ids.holder(id), 0u);
  EXPECT_TRUE(ids.leased(id, 109));
  EXPECT_FALSE(ids.leased(id, 110));
  ids.bringOnline(id, 7);
  EXPECT_FALSE(ids.leased(id, 20));

  for (const char* bad : {"", "12345678", "1234567890", "012345678", "12345678a", " 23456789"}) {
    EXPECT_FALSE(IdRegistry::isValid(bad)) << bad;
  }
}

TEST(IdRegistry, LeasesStayBounded) {
  IdRegistry ids(1e9, 100, 1000);
  for (int i = 0; i < 1000; ++i) {
    std::string id = std::to_string(100000000 + i);
    ids.bringOnline(id, 1);
    ids.takeOffline(id, i, uint32_t(i));
  }
  int leased = 0;
  for (int i = 0; i < 1000; ++i) leased += ids.leased(std::to_string(100000000 + i), 2000);
  EXPECT_LE(leased, 100);
  EXPECT_TRUE(ids.leased("100000999", 2000));
}

TEST(RateLimiter, BurstThenRateAndBoundedAddresses) {
  RateLimiter limiter(Rate{2, 4}, 10);
  int allowed = 0;
  for (int i = 0; i < 10; ++i) allowed += limiter.allow(1, 0);
  EXPECT_EQ(allowed, 4);
  EXPECT_FALSE(limiter.allow(1, 0.4));
  EXPECT_TRUE(limiter.allow(1, 0.5));
  for (uint32_t ip = 100; ip < 1000; ++ip) limiter.allow(ip, 1);
  EXPECT_LE(limiter.size(), 10u);
}

TEST(ServerOptions, ParsesEveryOptionAndRefusesBadValues) {
  std::string error;
  auto defaults = ServerOptions::parse({}, error);
  ASSERT_TRUE(defaults);
  EXPECT_EQ(defaults->udpPort, 47800);
  EXPECT_EQ(defaults->tcpPorts, (std::vector<uint16_t>{8443, 443, 80}));
  EXPECT_EQ(defaults->dataDir, "plimo-server-data");

  auto o = ServerOptions::parse({"--udp-port", "5000", "--tcp-ports", "9000,9001", "--data", "/tmp/x", "--log",
                                 "/tmp/l", "--max-sessions", "20000", "--handshake-rate", "900",
                                 "--handshake-share", "40"},
                                error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->udpPort, 5000);
  EXPECT_EQ(o->tcpPorts, (std::vector<uint16_t>{9000, 9001}));
  EXPECT_EQ(o->dataDir, "/tmp/x");
  EXPECT_EQ(o->logFile, "/tmp/l");
  EXPECT_EQ(o->maxSessions, 20000u);
  EXPECT_EQ(o->handshakeRate, 900);
  EXPECT_DOUBLE_EQ(o->handshakeShare, 0.4);
  EXPECT_EQ(o->storeLocation(), "/tmp/x/plimo-server.db");
  EXPECT_EQ(ServerOptions::parse({"--key", "/etc/plimo/fleet-key.pem"}, error)->keyFile, "/etc/plimo/fleet-key.pem");
  auto fleet = ServerOptions::parse({"--store", "postgresql://plimo@db.example/plimo"}, error);
  ASSERT_TRUE(fleet) << error;
  EXPECT_EQ(fleet->storeLocation(), "postgresql://plimo@db.example/plimo");
  EXPECT_TRUE(ServerOptions::parse({"--store", "postgresql://", "--fleet-status"}, error)->fleetStatus);
  EXPECT_EQ(ServerOptions::parse({"--fleet-stale-after", "6"}, error)->staleAfter, 6);
  EXPECT_EQ(ServerOptions::parse({"--bind", "127.0.0.2"}, error)->bindAddress, "127.0.0.2");
  EXPECT_EQ(ServerOptions::parse({"--fleet-port", "0"}, error)->fleetPort, 0);
  EXPECT_TRUE(ServerOptions::parse({"--tcp-ports", "none"}, error)->tcpPorts.empty());
  EXPECT_EQ(defaults->helperCommand, ServerOptions::HelperCommand::none);
  auto trust = ServerOptions::parse({"--data", "/d", "--trust-helper", "123 456-789", "--name", "Anna B."}, error);
  ASSERT_TRUE(trust) << error;
  EXPECT_EQ(trust->helperCommand, ServerOptions::HelperCommand::trust);
  EXPECT_EQ(trust->helperID, "123456789");
  EXPECT_EQ(trust->helperName, "Anna B.");
  EXPECT_EQ(ServerOptions::parse({"--list-helpers", "--data", "/d"}, error)->helperCommand,
            ServerOptions::HelperCommand::list);
  EXPECT_EQ(ServerOptions::parse({"--distrust-helper", "123456789"}, error)->helperCommand,
            ServerOptions::HelperCommand::distrust);

  for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{
           {"--udp-port"}, {"--udp-port", "0"}, {"--udp-port", "65536"}, {"--udp-port", "12x"},
           {"--tcp-ports", "80,,443"}, {"--tcp-ports", "80,80"}, {"--tcp-ports", "70000"}, {"--tcp-ports", ""},
           {"--bogus", "1"}, {"stray"}, {"--max-sessions", "0"}, {"--data", ""}, {"--handshake-share", "0"}, {"--handshake-share", "101"},
           {"--fleet-stale-after", "2"}, {"--fleet-stale-after", "31"}, {"--fleet-stale-after", "6s"},
           {"--bind", "127.0.0"}, {"--bind", "localhost"}, {"--bind", "::1"}, {"--fleet-port", "65536"},
           {"--trust-helper", "12345678"}, {"--trust-helper", "1234567890"}, {"--trust-helper", "12345678x"},
           {"--trust-helper"}, {"--trust-helper", "123456789", "--name", ""},
           {"--trust-helper", "123456789", "--name", "a\nb"},
           {"--trust-helper", "123456789", "--name", std::string(101, 'a')},
           {"--name", "Anna"}, {"--distrust-helper", "123456789", "--name", "Anna"},
           {"--list-helpers", "--trust-helper", "123456789"},
           {"--trust-helper", "123456789", "--distrust-helper", "123456789"},
           {"--store", "/var/lib/plimo/db"}, {"--store", ""}, {"--store", "mysql://db"}, {"--key", ""}, {"--fleet-status"}}) {
    EXPECT_FALSE(ServerOptions::parse(bad, error)) << bad[0];
    EXPECT_FALSE(error.empty()) << bad[0];
  }
  EXPECT_FALSE(ServerOptions::parse({"--help"}, error));
  EXPECT_TRUE(error.empty());
  EXPECT_EQ(serverPortsText({}), "0");
  EXPECT_EQ(serverPortsText({8443, 443}), "8443,443");
}

struct EveryStore : testkit::StoreEngineTest {};
PLIMO_ON_EVERY_STORE(EveryStore);

TEST_P(EveryStore, KeepsPinsAndUsageRecords) {
  EXPECT_FALSE(*store->pinHash("123456789"));
  ASSERT_TRUE(store->setPin("123456789", Bytes{1, 2, 3}, 100));
  EXPECT_EQ(**store->pinHash("123456789"), (Bytes{1, 2, 3}));
  ASSERT_TRUE(store->setPin("123456789", Bytes{4}, 200));
  EXPECT_EQ(**store->pinHash("123456789"), Bytes{4});
  EXPECT_TRUE(store->removePin("123456789"));
  EXPECT_FALSE(*store->pinHash("123456789"));

  int64_t row = store->startUsage("111111111", "222222222", "V", 1700000000).valueOr(0);
  ASSERT_GT(row, 0);
  auto u = store->usage(row);
  ASSERT_TRUE(u);
  EXPECT_EQ(u->viewerID, "111111111");
  EXPECT_EQ(u->hostID, "222222222");
  EXPECT_FALSE(u->seconds);
  EXPECT_TRUE(store->endUsage(row, 42));
  EXPECT_EQ(*store->usage(row)->seconds, 42);
  EXPECT_FALSE(store->endUsage(row + 1, 1));
  EXPECT_EQ(store->usageCount(), 1);
}

// Two servers on one store: the records they open side by side take their
// numbers from the store, never the same twice, and each reads the other's.
TEST_P(EveryStore, TwoServersNumberTheirRecordsFromTheStoreAndShareThem) {
  auto other = connect();
  ASSERT_TRUE(other);
  std::set<int64_t> rows;
  for (int i = 0; i < 6; ++i) {
    ServerStore& writer = i % 2 ? *other : *store;
    int64_t row = writer.startUsage("111111111", std::to_string(222222220 + i), "V", 1700000000 + i).valueOr(0);
    ASSERT_GT(row, 0);
    EXPECT_TRUE(rows.insert(row).second) << row;
  }
  EXPECT_EQ(store->usageCount(), 6);
  EXPECT_EQ(other->usage(*rows.begin())->hostID, "222222220");
  // A report resent to the other server is stored once.
  UsageStore::Report r;
  r.reporterID = "111111111";
  r.msgID = "0a1b2c3d";
  r.ref = std::to_string(*rows.begin());
  ASSERT_TRUE(store->addReport(r, 1));
  ASSERT_TRUE(other->addReport(r, 2));
  EXPECT_TRUE(*other->hasReport("111111111", "0a1b2c3d"));
  EXPECT_EQ(store->reportCount(), 1);
  // A pin kept and a helper trusted through one count at once on the other.
  ASSERT_TRUE(other->setPin("123456789", Bytes{7}, 5));
  EXPECT_EQ(**store->pinHash("123456789"), Bytes{7});
  ASSERT_TRUE(*store->trustHelper("123456789", "Anna", 6));
  EXPECT_FALSE((*other->trustedHelper("123456789"))->suspended);
}

// PostgreSQL restarted, or a connection cut: reads fail meanwhile and come
// back by themselves, writes wait it out and are not lost.
TEST(PgStore, ALostConnectionIsMadeAgainAndWritesWaitItOut) {
  testkit::PgTestSchema pg;
  PLIMO_REQUIRE_TEST_POSTGRES(pg);
  const std::string where = pg.where() + "&application_name=cut_" + std::to_string(::getpid());
  auto reads = testkit::openStore(where), writes = testkit::openStore(where);
  ASSERT_TRUE(reads && writes);
  writes->waitForLocksWithoutLimit([] {});
  auto admin = PgConnection::open(pg.where());
  ASSERT_TRUE(admin);
  ASSERT_TRUE((*admin)->script(("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = "
                                "'cut_" + std::to_string(::getpid()) + "'").c_str()));
  int64_t row = writes->startUsage("111111111", "222222222", "V", 1700000000).valueOr(0);
  EXPECT_GT(row, 0);
  EXPECT_FALSE(reads->pinHash("123456789"));
  bool back = false;
  for (int i = 0; i < 200 && !back; ++i) {
    back = reads->pinHash("123456789").ok();
    if (!back) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(back);
  EXPECT_EQ(reads->usageCount(), 1);
}

// A database that cannot be reached is refused with a reason, at once.
TEST(ServerStore, AnUnreachablePostgresIsRefusedWithAReason) {
  for (const char* where : {"postgresql://plimo@127.0.0.1:1/plimo", "postgresql://[bad", "postgres://?sslmode=bogus"}) {
    auto refused = ServerStore::open(where);
    ASSERT_FALSE(refused) << where;
    EXPECT_FALSE(refused.error().empty()) << where;
  }
}

TEST(ServerStore, ADatabaseFromBeforeMeasuredLengthsKeepsItsReportsAndGainsThem) {
  auto dir = std::filesystem::temp_directory_path() / ("plimo-old-store-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::string path = (dir / "db").string();
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const char* old =
        "CREATE TABLE reports (row INTEGER PRIMARY KEY AUTOINCREMENT, reporter_id TEXT NOT NULL, msg_id TEXT NOT "
        "NULL, ref TEXT NOT NULL, started INTEGER NOT NULL, ended INTEGER NOT NULL, seconds INTEGER NOT NULL, "
        "helped_id TEXT NOT NULL, pc_name TEXT NOT NULL, helper_name TEXT NOT NULL, customer TEXT NOT NULL, "
        "contact TEXT NOT NULL, billable INTEGER NOT NULL, minutes INTEGER NOT NULL, description TEXT NOT NULL, "
        "received INTEGER NOT NULL, UNIQUE (reporter_id, msg_id));"
        "INSERT INTO reports VALUES (1, '111222333', 'aa', '1', 1, 2, 3, '444555666', 'PC', 'Anna', 'ACME', '-', "
        "1, 15, 'Fixed.', 4);";
    ASSERT_EQ(sqlite3_exec(db, old, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  auto store = testkit::openStore(path);
  ASSERT_TRUE(store);
  ASSERT_TRUE(store->report(1));
  EXPECT_EQ(store->report(1)->minutes, 15);
  EXPECT_EQ(store->report(1)->measuredSeconds, 0);
  ServerStore::Report r = *store->report(1);
  r.msgID = "bb";
  r.measuredSeconds = 600;
  ASSERT_TRUE(store->addReport(r, 5));
  EXPECT_EQ(store->report(2)->measuredSeconds, 600);
  store.reset();
  std::filesystem::remove_all(dir);
}

TEST(ServerStore, ReopensTheSameFileAndRefusesAnUnusableOne) {
  auto dir = std::filesystem::temp_directory_path() / ("plimo-store-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::string path = (dir / "db").string();
  {
    auto store = testkit::openStore(path);
    ASSERT_TRUE(store);
    ASSERT_TRUE(store->setPin("987654321", Bytes{9}, 1));
  }
  auto again = testkit::openStore(path);
  ASSERT_TRUE(again);
  EXPECT_EQ(**again->pinHash("987654321"), Bytes{9});
  again.reset();

  // Garbage in place of a database: refused with a reason, no crash.
  std::string junk = (dir / "junk").string();
  {
    std::FILE* f = std::fopen(junk.c_str(), "wb");
    std::string text(8192, 'x');
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  auto refused = ServerStore::open(junk);
  ASSERT_FALSE(refused);
  EXPECT_FALSE(refused.error().empty());
  EXPECT_FALSE(ServerStore::open((dir / "no/such/folder/db").string()));
  std::filesystem::remove_all(dir);
}
