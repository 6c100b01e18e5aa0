#include "server/ServerStore.h"

#include <sqlite3.h>

namespace plimo {

namespace {

// Resets a statement when the caller is done with it, whatever path it takes.
class Use {
 public:
  explicit Use(sqlite3_stmt* s) : s_(s) {}
  ~Use() {
    sqlite3_reset(s_);
    sqlite3_clear_bindings(s_);
  }
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;
  sqlite3_stmt* operator*() const { return s_; }

 private:
  sqlite3_stmt* s_;
};

void bindText(sqlite3_stmt* s, int index, const std::string& text) {
  sqlite3_bind_text(s, index, text.data(), int(text.size()), SQLITE_TRANSIENT);
}

std::string columnText(sqlite3_stmt* s, int index) {
  auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, index));
  return text ? std::string(text, size_t(sqlite3_column_bytes(s, index))) : std::string();
}

// The report in the columns of a statement from `first` on, in the order
// reporter_id, msg_id, ref, started, ended, seconds, helped_id, pc_name,
// helper_name, customer, contact, billable, minutes, description,
// measured_seconds.
ServerStore::Report readReport(sqlite3_stmt* s, int first) {
  ServerStore::Report r;
  int i = first;
  for (std::string* text : {&r.reporterID, &r.msgID, &r.ref}) *text = columnText(s, i++);
  for (int64_t* n : {&r.started, &r.ended, &r.seconds}) *n = sqlite3_column_int64(s, i++);
  for (std::string* text : {&r.helpedID, &r.pcName, &r.helperName, &r.customer, &r.contact}) {
    *text = columnText(s, i++);
  }
  r.billable = sqlite3_column_int64(s, i++) != 0;
  r.minutes = sqlite3_column_int64(s, i++);
  r.description = columnText(s, i++);
  r.measuredSeconds = sqlite3_column_int64(s, i++);
  return r;
}

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

void ServerStore::StatementDeleter::operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }

Result<std::unique_ptr<ServerStore>> ServerStore::open(const std::string& path) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    Failed failed{db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)};
    sqlite3_close(db);
    return failed;
  }
  std::unique_ptr<ServerStore> store(new ServerStore(db));
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
  for (auto step : {&ServerStore::bindTrustToPins, &ServerStore::prepare, &ServerStore::readLastUsageRow}) {
    if (auto done = (store.get()->*step)(); !done) return Failed{done.error()};
  }
  return store;
}

ServerStore::ServerStore(sqlite3* db) : db_(db) {}

ServerStore::~ServerStore() {
  // Statements first: a database with live statements does not close.
  getPin_.reset();
  setPin_.reset();
  removePin_.reset();
  trustHelper_.reset();
  distrustHelper_.reset();
  getHelper_.reset();
  listHelpers_.reset();
  countHelpers_.reset();
  startUsage_.reset();
  endUsage_.reset();
  getUsage_.reset();
  countUsage_.reset();
  markAsked_.reset();
  askedLength_.reset();
  addReport_.reset();
  hasReport_.reset();
  countReports_.reset();
  getReport_.reset();
  sqlite3_close(db_);
}

Result<void> ServerStore::readLastUsageRow() {
  // The sequence too: rows deleted by hand keep their numbers used.
  static constexpr const char* kSql =
      "SELECT MAX(IFNULL((SELECT MAX(row) FROM sessions), 0), "
      "IFNULL((SELECT seq FROM sqlite_sequence WHERE name = 'sessions'), 0))";
  Result<Statement> s = prepareOnce(kSql);
  if (!s) return Failed{s.error()};
  if (sqlite3_step(s->get()) != SQLITE_ROW) return failed();
  lastUsageRow_ = sqlite3_column_int64(s->get(), 0);
  return {};
}

Result<ServerStore::Statement> ServerStore::prepareOnce(const char* sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_, sql, -1, &raw, nullptr) != SQLITE_OK) return failed();
  return Statement(raw);
}

Failed ServerStore::failed() const { return Failed{sqlite3_errmsg(db_)}; }

Result<void> ServerStore::stepped(int rc) const {
  if (rc != SQLITE_DONE) return failed();
  return {};
}

void ServerStore::waitForLocks(int milliseconds) { sqlite3_busy_timeout(db_, milliseconds); }

void ServerStore::waitForLocksWithoutLimit(std::function<void()> waiting) {
  waiting_ = std::move(waiting);
  sqlite3_busy_handler(
      db_,
      [](void* self, int tries) {
        // Soon at first (another process's write is over in milliseconds),
        // then at a pace that costs nothing while a lock is held for minutes.
        constexpr int kQuickTries = 10, kSlowPause = 20;
        constexpr int kSecond = kQuickTries + 1000 / kSlowPause;
        auto* store = static_cast<ServerStore*>(self);
        if (tries == kSecond && store->waiting_) store->waiting_();
        sqlite3_sleep(tries < kQuickTries ? 1 : kSlowPause);
        return 1;
      },
      this);
}

Result<void> ServerStore::exec(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return {};
  Failed failed{message ? message : "database error"};
  sqlite3_free(message);
  return failed;
}

bool ServerStore::hasColumn(const char* table, const char* column) {
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

Result<void> ServerStore::bindTrustToPins() {
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

Result<void> ServerStore::prepare() {
  struct Item {
    Statement* statement;
    const char* sql;
  };
  const Item items[] = {
      {&getPin_, "SELECT secret_hash FROM pins WHERE id = ?1"},
      {&setPin_,
       "INSERT INTO pins (id, secret_hash, created, last_seen) VALUES (?1, ?2, ?3, ?3) "
       "ON CONFLICT(id) DO UPDATE SET secret_hash = ?2, last_seen = ?3"},
      {&removePin_, "DELETE FROM pins WHERE id = ?1"},
      // Nothing is written for an ID that is not kept. Trusting again binds
      // to the pin of now; its date is the binding's.
      {&trustHelper_,
       "INSERT INTO trusted_helpers (id, name, added, pin_hash) SELECT ?1, ?2, ?3, secret_hash FROM pins WHERE id = ?1 "
       "ON CONFLICT(id) DO UPDATE SET name = excluded.name, "
       "added = CASE WHEN pin_hash IS excluded.pin_hash THEN added ELSE excluded.added END, "
       "pin_hash = excluded.pin_hash"},
      {&distrustHelper_, "DELETE FROM trusted_helpers WHERE id = ?1"},
      // Suspended unless the pin its ID has now is the one it was trusted with.
      {&getHelper_,
       "SELECT h.id, h.name, h.added, p.id IS NOT NULL, IFNULL(p.secret_hash = h.pin_hash, 0) = 0 "
       "FROM trusted_helpers h LEFT JOIN pins p ON p.id = h.id WHERE h.id = ?1"},
      {&listHelpers_,
       "SELECT h.id, h.name, h.added, p.id IS NOT NULL, IFNULL(p.secret_hash = h.pin_hash, 0) = 0 "
       "FROM trusted_helpers h LEFT JOIN pins p ON p.id = h.id ORDER BY h.id"},
      {&countHelpers_,
       "SELECT COUNT(*) FROM trusted_helpers h JOIN pins p ON p.id = h.id AND p.secret_hash = h.pin_hash"},
      {&startUsage_,
       "INSERT INTO sessions (row, viewer_id, host_id, reported_by, started) VALUES (?5, ?1, ?2, ?3, ?4)"},
      {&endUsage_, "UPDATE sessions SET seconds = ?2 WHERE row = ?1"},
      {&getUsage_,
       "SELECT viewer_id, host_id, reported_by, started, seconds FROM sessions WHERE row = ?1"},
      {&countUsage_, "SELECT COUNT(*) FROM sessions"},
      {&markAsked_, "INSERT OR IGNORE INTO report_asks (usage_row) VALUES (?1)"},
      {&askedLength_,
       "SELECT s.seconds FROM report_asks a JOIN sessions s ON s.row = a.usage_row "
       "WHERE a.usage_row = ?1 AND s.viewer_id = ?2 AND s.seconds IS NOT NULL AND NOT EXISTS "
       "(SELECT 1 FROM reports r WHERE r.reporter_id = ?2 AND r.ref = CAST(?1 AS TEXT))"},
      {&addReport_,
       "INSERT OR IGNORE INTO reports (reporter_id, msg_id, ref, started, ended, seconds, helped_id, pc_name, "
       "helper_name, customer, contact, billable, minutes, description, received, measured_seconds) "
       "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16)"},
      {&hasReport_, "SELECT 1 FROM reports WHERE reporter_id = ?1 AND msg_id = ?2"},
      {&countReports_, "SELECT COUNT(*) FROM reports"},
      {&getReport_,
       "SELECT reporter_id, msg_id, ref, started, ended, seconds, helped_id, pc_name, helper_name, customer, "
       "contact, billable, minutes, description, measured_seconds FROM reports WHERE row = ?1"},
  };
  for (const Item& item : items) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v3(db_, item.sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK) return failed();
    item.statement->reset(s);
  }
  return {};
}

Result<std::optional<Bytes>> ServerStore::pinHash(const std::string& id) {
  Use s(getPin_.get());
  bindText(*s, 1, id);
  int rc = sqlite3_step(*s);
  if (rc == SQLITE_DONE) return std::optional<Bytes>();
  if (rc != SQLITE_ROW) return failed();
  auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(*s, 0));
  return std::optional<Bytes>(Bytes(data, data + sqlite3_column_bytes(*s, 0)));
}

Result<void> ServerStore::setPin(const std::string& id, ByteView secretHash, int64_t when) {
  Use s(setPin_.get());
  bindText(*s, 1, id);
  sqlite3_bind_blob(*s, 2, secretHash.data(), int(secretHash.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int64(*s, 3, when);
  return stepped(sqlite3_step(*s));
}

Result<void> ServerStore::removePin(const std::string& id) {
  Use s(removePin_.get());
  bindText(*s, 1, id);
  return stepped(sqlite3_step(*s));
}

Result<bool> ServerStore::trustHelper(const std::string& id, const std::string& name, int64_t when) {
  Use s(trustHelper_.get());
  bindText(*s, 1, id);
  bindText(*s, 2, name);
  sqlite3_bind_int64(*s, 3, when);
  if (sqlite3_step(*s) != SQLITE_DONE) return failed();
  return sqlite3_changes(db_) > 0;
}

Result<bool> ServerStore::distrustHelper(const std::string& id) {
  Use s(distrustHelper_.get());
  bindText(*s, 1, id);
  if (sqlite3_step(*s) != SQLITE_DONE) return failed();
  return sqlite3_changes(db_) > 0;
}

namespace {

ServerStore::Helper helperAt(sqlite3_stmt* s) {
  ServerStore::Helper h;
  h.id = columnText(s, 0);
  h.name = columnText(s, 1);
  h.added = sqlite3_column_int64(s, 2);
  h.kept = sqlite3_column_int64(s, 3) != 0;
  h.suspended = sqlite3_column_int64(s, 4) != 0;
  return h;
}

}  // namespace

Result<std::optional<ServerStore::Helper>> ServerStore::trustedHelper(const std::string& id) {
  Use s(getHelper_.get());
  bindText(*s, 1, id);
  int rc = sqlite3_step(*s);
  if (rc == SQLITE_DONE) return std::optional<Helper>();
  if (rc != SQLITE_ROW) return failed();
  return std::optional<Helper>(helperAt(*s));
}

Result<std::vector<ServerStore::Helper>> ServerStore::trustedHelpers() {
  Use s(listHelpers_.get());
  std::vector<Helper> helpers;
  int rc;
  while ((rc = sqlite3_step(*s)) == SQLITE_ROW) helpers.push_back(helperAt(*s));
  if (rc != SQLITE_DONE) return failed();
  return helpers;
}

Result<int64_t> ServerStore::trustedHelperCount() {
  Use s(countHelpers_.get());
  if (sqlite3_step(*s) != SQLITE_ROW) return failed();
  return sqlite3_column_int64(*s, 0);
}

Result<int64_t> ServerStore::startUsage(const std::string& viewerID, const std::string& hostID,
                                        const std::string& reportedBy, int64_t started) {
  int64_t row = reserveUsageRow();
  if (auto inserted = insertUsage(row, viewerID, hostID, reportedBy, started); !inserted) {
    return Failed{inserted.error()};
  }
  return row;
}

Result<void> ServerStore::insertUsage(int64_t row, const std::string& viewerID, const std::string& hostID,
                              const std::string& reportedBy, int64_t started) {
  Use s(startUsage_.get());
  bindText(*s, 1, viewerID);
  bindText(*s, 2, hostID);
  bindText(*s, 3, reportedBy);
  sqlite3_bind_int64(*s, 4, started);
  sqlite3_bind_int64(*s, 5, row);
  return stepped(sqlite3_step(*s));
}

Result<void> ServerStore::endUsage(int64_t row, int64_t seconds) {
  Use s(endUsage_.get());
  sqlite3_bind_int64(*s, 1, row);
  sqlite3_bind_int64(*s, 2, seconds);
  if (auto done = stepped(sqlite3_step(*s)); !done) return done;
  if (sqlite3_changes(db_) != 1) return Failed{"no session record " + std::to_string(row)};
  return {};
}

std::optional<ServerStore::Usage> ServerStore::usage(int64_t row) {
  Use s(getUsage_.get());
  sqlite3_bind_int64(*s, 1, row);
  if (sqlite3_step(*s) != SQLITE_ROW) return std::nullopt;
  Usage u;
  u.viewerID = columnText(*s, 0);
  u.hostID = columnText(*s, 1);
  u.reportedBy = columnText(*s, 2);
  u.started = sqlite3_column_int64(*s, 3);
  if (sqlite3_column_type(*s, 4) != SQLITE_NULL) u.seconds = sqlite3_column_int64(*s, 4);
  return u;
}

Result<void> ServerStore::markAsked(int64_t row) {
  Use s(markAsked_.get());
  sqlite3_bind_int64(*s, 1, row);
  return stepped(sqlite3_step(*s));
}

Result<std::optional<int64_t>> ServerStore::askedLength(int64_t row, const std::string& viewerID) {
  Use s(askedLength_.get());
  sqlite3_bind_int64(*s, 1, row);
  bindText(*s, 2, viewerID);
  int rc = sqlite3_step(*s);
  if (rc == SQLITE_DONE) return std::optional<int64_t>();
  if (rc != SQLITE_ROW) return failed();
  return std::optional<int64_t>(sqlite3_column_int64(*s, 0));
}

Result<bool> ServerStore::hasReport(const std::string& reporterID, const std::string& msgID) {
  Use s(hasReport_.get());
  bindText(*s, 1, reporterID);
  bindText(*s, 2, msgID);
  int rc = sqlite3_step(*s);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return failed();
  return rc == SQLITE_ROW;
}

Result<void> ServerStore::addReport(const Report& r, int64_t received) {
  Use s(addReport_.get());
  int i = 1;
  for (const std::string* text : {&r.reporterID, &r.msgID, &r.ref}) bindText(*s, i++, *text);
  for (int64_t n : {r.started, r.ended, r.seconds}) sqlite3_bind_int64(*s, i++, n);
  for (const std::string* text : {&r.helpedID, &r.pcName, &r.helperName, &r.customer, &r.contact}) {
    bindText(*s, i++, *text);
  }
  sqlite3_bind_int64(*s, i++, r.billable ? 1 : 0);
  sqlite3_bind_int64(*s, i++, r.minutes);
  bindText(*s, i++, r.description);
  sqlite3_bind_int64(*s, i++, received);
  sqlite3_bind_int64(*s, i++, r.measuredSeconds);
  return stepped(sqlite3_step(*s));
}

int64_t ServerStore::reportCount() {
  Use s(countReports_.get());
  return sqlite3_step(*s) == SQLITE_ROW ? sqlite3_column_int64(*s, 0) : 0;
}

std::optional<ServerStore::Report> ServerStore::report(int64_t row) {
  Use s(getReport_.get());
  sqlite3_bind_int64(*s, 1, row);
  if (sqlite3_step(*s) != SQLITE_ROW) return std::nullopt;
  return readReport(*s, 0);
}

int64_t ServerStore::usageCount() {
  Use s(countUsage_.get());
  return sqlite3_step(*s) == SQLITE_ROW ? sqlite3_column_int64(*s, 0) : 0;
}

Result<void> ServerStore::usageBetween(int64_t from, int64_t to,
                                       const std::function<void(const UsageLine&)>& each) {
  // Run once per export, so prepared here rather than kept.
  static constexpr const char* kSql =
      "SELECT s.row, s.viewer_id, s.host_id, s.reported_by, s.started, s.seconds, r.row, r.reporter_id, r.msg_id, "
      "r.ref, r.started, r.ended, r.seconds, r.helped_id, r.pc_name, r.helper_name, r.customer, r.contact, "
      "r.billable, r.minutes, r.description, r.measured_seconds "
      "FROM sessions s LEFT JOIN reports r ON r.reporter_id = s.viewer_id AND r.ref = CAST(s.row AS TEXT) "
      "WHERE s.started >= ?1 AND s.started < ?2 ORDER BY s.started, s.row";
  Result<Statement> statement = prepareOnce(kSql);
  if (!statement) return Failed{statement.error()};
  sqlite3_stmt* raw = statement->get();
  sqlite3_bind_int64(raw, 1, from);
  sqlite3_bind_int64(raw, 2, to);
  int rc;
  while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
    UsageLine line;
    line.row = sqlite3_column_int64(raw, 0);
    line.usage.viewerID = columnText(raw, 1);
    line.usage.hostID = columnText(raw, 2);
    line.usage.reportedBy = columnText(raw, 3);
    line.usage.started = sqlite3_column_int64(raw, 4);
    if (sqlite3_column_type(raw, 5) != SQLITE_NULL) line.usage.seconds = sqlite3_column_int64(raw, 5);
    if (sqlite3_column_type(raw, 6) != SQLITE_NULL) {
      line.report = readReport(raw, 7);
    }
    each(line);
  }
  return stepped(rc);
}

}  // namespace plimo
