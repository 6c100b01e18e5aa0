#include "server/SqliteStore.h"

#include <sqlite3.h>

namespace plimo {

namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS pins (
  id          TEXT PRIMARY KEY,
  secret_hash BLOB NOT NULL,
  created     INTEGER NOT NULL,
  last_seen   INTEGER NOT NULL
);
-- pin_hash: the secret_hash of the pin its ID had when it was trusted; NULL
-- once that pin went (the entry is suspended).
CREATE TABLE IF NOT EXISTS trusted_helpers (
  id          TEXT PRIMARY KEY,
  name        TEXT NOT NULL,
  added       INTEGER NOT NULL,
  pin_hash    BLOB
);
CREATE TABLE IF NOT EXISTS sessions (
  row         INTEGER PRIMARY KEY AUTOINCREMENT,
  viewer_id   TEXT NOT NULL,
  host_id     TEXT NOT NULL,
  reported_by TEXT NOT NULL,
  started     INTEGER NOT NULL,
  seconds     INTEGER
);
CREATE INDEX IF NOT EXISTS sessions_started ON sessions(started);
CREATE TABLE IF NOT EXISTS reports (
  row         INTEGER PRIMARY KEY AUTOINCREMENT,
  reporter_id TEXT NOT NULL,
  msg_id      TEXT NOT NULL,
  ref         TEXT NOT NULL,
  started     INTEGER NOT NULL,
  ended       INTEGER NOT NULL,
  seconds     INTEGER NOT NULL,
  helped_id   TEXT NOT NULL,
  pc_name     TEXT NOT NULL,
  helper_name TEXT NOT NULL,
  customer    TEXT NOT NULL,
  contact     TEXT NOT NULL,
  billable    INTEGER NOT NULL,
  minutes     INTEGER NOT NULL,
  description TEXT NOT NULL,
  received    INTEGER NOT NULL,
  UNIQUE (reporter_id, msg_id)
);
-- A session's report, found by its helper and ref (exports, the one-report rule).
CREATE INDEX IF NOT EXISTS reports_ref ON reports(reporter_id, ref);
CREATE TABLE IF NOT EXISTS report_asks (
  usage_row   INTEGER PRIMARY KEY
);
CREATE TABLE IF NOT EXISTS servers (
  name        TEXT PRIMARY KEY,
  heartbeat   INTEGER NOT NULL,
  clients     INTEGER NOT NULL,
  sessions    INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS presence (
  id          TEXT PRIMARY KEY,
  server      TEXT NOT NULL,
  address     TEXT NOT NULL,
  since       INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS presence_server ON presence(server);
)sql";

// Trust stays suspended once the pin it was bound to goes or changes: the
// same ID kept again, with whatever secret, needs an administrator again.
constexpr const char* kTrustFollowsPins = R"sql(
CREATE TRIGGER IF NOT EXISTS pin_removed_suspends_trust AFTER DELETE ON pins BEGIN
  UPDATE trusted_helpers SET pin_hash = NULL WHERE id = OLD.id;
END;
CREATE TRIGGER IF NOT EXISTS pin_changed_suspends_trust AFTER UPDATE OF secret_hash ON pins
WHEN OLD.secret_hash IS NOT NEW.secret_hash BEGIN
  UPDATE trusted_helpers SET pin_hash = NULL WHERE id = OLD.id;
END;
)sql";

}  // namespace

Result<std::unique_ptr<ServerStore>> SqliteStore::open(const std::string& path) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    Failed failed{db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)};
    sqlite3_close(db);
    return failed;
  }
  std::unique_ptr<SqliteStore> store(new SqliteStore(db));
  // Another process holding the database briefly (a backup, sqlite3) makes a
  // write wait instead of fail.
  sqlite3_busy_timeout(db, 2000);
  for (const char* sql : {"PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", kSchema}) {
    if (auto made = store->exec(sql); !made) return Failed{made.error()};
  }
  // Databases made before reports kept the measured length.
  if (!store->hasColumn("reports", "measured_seconds")) {
    if (auto added = store->exec("ALTER TABLE reports ADD COLUMN measured_seconds INTEGER"); !added) {
      return Failed{added.error()};
    }
  }
  // Databases made before the fleet's servers relayed to each other.
  for (const char* column : {"relay", "relay_key"}) {
    if (store->hasColumn("servers", column)) continue;
    std::string add = std::string("ALTER TABLE servers ADD COLUMN ") + column + " TEXT NOT NULL DEFAULT ''";
    if (auto added = store->exec(add.c_str()); !added) return Failed{added.error()};
  }
  Result<void> ready = store->bindTrustToPins();
  if (ready) ready = store->preparePins();
  if (ready) ready = store->prepareUsage();
  if (ready) ready = store->preparePresence();
  if (!ready) return Failed{ready.error()};
  return std::unique_ptr<ServerStore>(std::move(store));
}

SqliteStore::~SqliteStore() {
  // The connection closes once the parts' statements are finalized after this.
  sqlite3_close_v2(db_);
}

void SqliteStore::waitForLocks(int milliseconds) { sqlite3_busy_timeout(db_, milliseconds); }

void SqliteStore::waitForLocksWithoutLimit(std::function<void()> waiting) {
  waiting_ = std::move(waiting);
  sqlite3_busy_handler(
      db_,
      [](void* self, int tries) {
        // Soon at first (another process's write is over in milliseconds),
        // then at a pace that costs nothing while a lock is held for minutes.
        constexpr int kQuickTries = 10, kSlowPause = 20;
        constexpr int kSecond = kQuickTries + 1000 / kSlowPause;
        auto* store = static_cast<SqliteStore*>(self);
        if (tries == kSecond && store->waiting_) store->waiting_();
        sqlite3_sleep(tries < kQuickTries ? 1 : kSlowPause);
        return 1;
      },
      this);
}

Result<void> SqliteStore::exec(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return {};
  Failed failed{message ? message : "database error"};
  sqlite3_free(message);
  return failed;
}

bool SqliteStore::hasColumn(const char* table, const char* column) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_, "SELECT COUNT(*) FROM pragma_table_info(?1) WHERE name = ?2", -1, &raw, nullptr) !=
      SQLITE_OK) {
    return false;
  }
  Statement s(raw);
  sqlite3_bind_text(raw, 1, table, -1, SQLITE_STATIC);
  sqlite3_bind_text(raw, 2, column, -1, SQLITE_STATIC);
  return sqlite3_step(raw) == SQLITE_ROW && sqlite3_column_int64(raw, 0) > 0;
}

Result<void> SqliteStore::bindTrustToPins() {
  if (hasColumn("trusted_helpers", "pin_hash")) return exec(kTrustFollowsPins);
  // A database from before trust was bound to a secret: each entry binds to
  // the secret that keeps its ID now, so that a deployment keeps its helpers
  // (one whose ID is not kept starts suspended). Checked again inside the
  // transaction: the server and a --list-helpers may open it at once.
  if (auto begun = exec("BEGIN IMMEDIATE"); !begun) return begun;
  Result<void> done;
  if (!hasColumn("trusted_helpers", "pin_hash")) {
    done = exec(
        "ALTER TABLE trusted_helpers ADD COLUMN pin_hash BLOB; "
        "UPDATE trusted_helpers SET pin_hash = (SELECT secret_hash FROM pins WHERE pins.id = trusted_helpers.id)");
  }
  if (done) done = exec(kTrustFollowsPins);
  if (done) done = exec("COMMIT");
  if (!done) (void)exec("ROLLBACK");
  return done;
}

}  // namespace plimo
