#include "server/PgStore.h"

#include "protocol/crypto/PlimoCrypto.h"

namespace plimo {

namespace {

// SqliteStore's tables in PostgreSQL's types, and its triggers: trust stays
// suspended once the pin it was bound to goes or changes. The lock keeps two
// servers that start at once from making them side by side.
constexpr const char* kSchema = R"sql(
BEGIN;
SELECT pg_advisory_xact_lock(47800);
CREATE TABLE IF NOT EXISTS pins (
  id          TEXT PRIMARY KEY,
  secret_hash BYTEA NOT NULL,
  created     BIGINT NOT NULL,
  last_seen   BIGINT NOT NULL
);
CREATE TABLE IF NOT EXISTS trusted_helpers (
  id          TEXT PRIMARY KEY,
  name        TEXT NOT NULL,
  added       BIGINT NOT NULL,
  pin_hash    BYTEA
);
CREATE TABLE IF NOT EXISTS sessions (
  row         BIGSERIAL PRIMARY KEY,
  viewer_id   TEXT NOT NULL,
  host_id     TEXT NOT NULL,
  reported_by TEXT NOT NULL,
  started     BIGINT NOT NULL,
  seconds     BIGINT
);
CREATE INDEX IF NOT EXISTS sessions_started ON sessions(started);
CREATE TABLE IF NOT EXISTS reports (
  row         BIGSERIAL PRIMARY KEY,
  reporter_id TEXT NOT NULL,
  msg_id      TEXT NOT NULL,
  ref         TEXT NOT NULL,
  started     BIGINT NOT NULL,
  ended       BIGINT NOT NULL,
  seconds     BIGINT NOT NULL,
  helped_id   TEXT NOT NULL,
  pc_name     TEXT NOT NULL,
  helper_name TEXT NOT NULL,
  customer    TEXT NOT NULL,
  contact     TEXT NOT NULL,
  billable    INTEGER NOT NULL,
  minutes     BIGINT NOT NULL,
  description TEXT NOT NULL,
  received    BIGINT NOT NULL,
  measured_seconds BIGINT,
  UNIQUE (reporter_id, msg_id)
);
CREATE INDEX IF NOT EXISTS reports_ref ON reports(reporter_id, ref);
CREATE TABLE IF NOT EXISTS report_asks (
  usage_row   BIGINT PRIMARY KEY
);
CREATE TABLE IF NOT EXISTS servers (
  name        TEXT PRIMARY KEY,
  heartbeat   BIGINT NOT NULL,
  clients     BIGINT NOT NULL,
  sessions    BIGINT NOT NULL
);
ALTER TABLE servers ADD COLUMN IF NOT EXISTS relay TEXT NOT NULL DEFAULT '';
ALTER TABLE servers ADD COLUMN IF NOT EXISTS relay_key TEXT NOT NULL DEFAULT '';
CREATE TABLE IF NOT EXISTS presence (
  id          TEXT PRIMARY KEY,
  server      TEXT NOT NULL,
  address     TEXT NOT NULL,
  since       BIGINT NOT NULL
);
CREATE INDEX IF NOT EXISTS presence_server ON presence(server);
CREATE OR REPLACE FUNCTION plimo_suspend_trust() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  UPDATE trusted_helpers SET pin_hash = NULL WHERE id = OLD.id;
  RETURN NULL;
END $$;
CREATE OR REPLACE TRIGGER pin_removed_suspends_trust AFTER DELETE ON pins
  FOR EACH ROW EXECUTE FUNCTION plimo_suspend_trust();
CREATE OR REPLACE TRIGGER pin_changed_suspends_trust AFTER UPDATE OF secret_hash ON pins
  FOR EACH ROW WHEN (OLD.secret_hash IS DISTINCT FROM NEW.secret_hash) EXECUTE FUNCTION plimo_suspend_trust();
COMMIT;
)sql";

constexpr const char* kHelperColumns =
    "SELECT h.id, h.name, h.added, p.id IS NOT NULL, COALESCE(p.secret_hash = h.pin_hash, false) = false "
    "FROM trusted_helpers h LEFT JOIN pins p ON p.id = h.id ";

PinStore::Helper helperAt(const PgConnection::Rows& rows, int i) {
  PinStore::Helper h;
  h.id = rows.text(i, 0);
  h.name = rows.text(i, 1);
  h.added = rows.number(i, 2);
  h.kept = rows.flag(i, 3);
  h.suspended = rows.flag(i, 4);
  return h;
}

// The columns of a report from `first` on, in SqliteStore's order.
UsageStore::Report reportAt(const PgConnection::Rows& rows, int i, int first) {
  UsageStore::Report r;
  int c = first;
  for (std::string* text : {&r.reporterID, &r.msgID, &r.ref}) *text = rows.text(i, c++);
  for (int64_t* n : {&r.started, &r.ended, &r.seconds}) *n = rows.number(i, c++);
  for (std::string* text : {&r.helpedID, &r.pcName, &r.helperName, &r.customer, &r.contact}) {
    *text = rows.text(i, c++);
  }
  r.billable = rows.number(i, c++) != 0;
  r.minutes = rows.number(i, c++);
  r.description = rows.text(i, c++);
  r.measuredSeconds = rows.number(i, c++);
  return r;
}

constexpr const char* kReportColumns =
    "reporter_id, msg_id, ref, started, ended, seconds, helped_id, pc_name, helper_name, customer, contact, "
    "billable, minutes, description, measured_seconds";

}  // namespace

Result<std::unique_ptr<ServerStore>> PgStore::open(const std::string& conninfo) {
  auto db = PgConnection::open(conninfo);
  if (!db) return Failed{db.error()};
  if (auto made = (*db)->script(kSchema); !made) return Failed{made.error()};
  return std::unique_ptr<ServerStore>(new PgStore(std::move(*db)));
}

Result<std::optional<Bytes>> PgStore::pinHash(const std::string& id) {
  auto rows = db_->run("SELECT encode(secret_hash, 'hex') FROM pins WHERE id = $1", {id});
  if (!rows) return Failed{rows.error()};
  if (rows->count() == 0) return std::optional<Bytes>();
  return std::optional<Bytes>(PlimoCrypto::fromHex(rows->text(0, 0)).value_or(Bytes()));
}

Result<void> PgStore::setPin(const std::string& id, ByteView secretHash, int64_t when) {
  auto rows = db_->run(
      "INSERT INTO pins (id, secret_hash, created, last_seen) VALUES ($1, decode($2, 'hex'), $3, $3) "
      "ON CONFLICT (id) DO UPDATE SET secret_hash = EXCLUDED.secret_hash, last_seen = EXCLUDED.last_seen",
      {id, PlimoCrypto::hex(secretHash), when});
  if (!rows) return Failed{rows.error()};
  return {};
}

Result<void> PgStore::removePin(const std::string& id) {
  auto rows = db_->run("DELETE FROM pins WHERE id = $1", {id});
  if (!rows) return Failed{rows.error()};
  return {};
}

Result<bool> PgStore::trustHelper(const std::string& id, const std::string& name, int64_t when) {
  // Nothing is written for an ID that is not kept. Trusting again binds to
  // the pin of now; its date is the binding's.
  auto rows = db_->run(
      "INSERT INTO trusted_helpers (id, name, added, pin_hash) SELECT $1::text, $2::text, $3::bigint, secret_hash "
      "FROM pins WHERE id = $1::text ON CONFLICT (id) DO UPDATE SET name = EXCLUDED.name, "
      "added = CASE WHEN trusted_helpers.pin_hash IS NOT DISTINCT FROM EXCLUDED.pin_hash "
      "THEN trusted_helpers.added ELSE EXCLUDED.added END, pin_hash = EXCLUDED.pin_hash",
      {id, name, when});
  if (!rows) return Failed{rows.error()};
  return rows->changed() > 0;
}

Result<bool> PgStore::distrustHelper(const std::string& id) {
  auto rows = db_->run("DELETE FROM trusted_helpers WHERE id = $1", {id});
  if (!rows) return Failed{rows.error()};
  return rows->changed() > 0;
}

Result<std::optional<PinStore::Helper>> PgStore::trustedHelper(const std::string& id) {
  auto rows = db_->run((std::string(kHelperColumns) + "WHERE h.id = $1").c_str(), {id});
  if (!rows) return Failed{rows.error()};
  if (rows->count() == 0) return std::optional<Helper>();
  return std::optional<Helper>(helperAt(*rows, 0));
}

Result<std::vector<PinStore::Helper>> PgStore::trustedHelpers() {
  auto rows = db_->run((std::string(kHelperColumns) + "ORDER BY h.id").c_str());
  if (!rows) return Failed{rows.error()};
  std::vector<Helper> helpers;
  for (int i = 0; i < rows->count(); ++i) helpers.push_back(helperAt(*rows, i));
  return helpers;
}

Result<int64_t> PgStore::trustedHelperCount() {
  auto rows = db_->run(
      "SELECT COUNT(*) FROM trusted_helpers h JOIN pins p ON p.id = h.id AND p.secret_hash = h.pin_hash");
  if (!rows) return Failed{rows.error()};
  return rows->number(0, 0);
}

Result<int64_t> PgStore::startUsage(const std::string& viewerID, const std::string& hostID,
                                    const std::string& reportedBy, int64_t started) {
  auto rows = db_->run(
      "INSERT INTO sessions (viewer_id, host_id, reported_by, started) VALUES ($1, $2, $3, $4) RETURNING row",
      {viewerID, hostID, reportedBy, started});
  if (!rows) return Failed{rows.error()};
  return rows->number(0, 0);
}

Result<void> PgStore::endUsage(int64_t row, int64_t seconds) {
  auto rows = db_->run("UPDATE sessions SET seconds = $2 WHERE row = $1", {row, seconds});
  if (!rows) return Failed{rows.error()};
  if (rows->changed() != 1) return Failed{"no session record " + std::to_string(row)};
  return {};
}

Result<void> PgStore::markAsked(int64_t row) {
  auto rows = db_->run("INSERT INTO report_asks (usage_row) VALUES ($1) ON CONFLICT DO NOTHING", {row});
  if (!rows) return Failed{rows.error()};
  return {};
}

Result<std::optional<int64_t>> PgStore::askedLength(int64_t row, const std::string& viewerID) {
  auto rows = db_->run(
      "SELECT s.seconds FROM report_asks a JOIN sessions s ON s.row = a.usage_row "
      "WHERE a.usage_row = $1::bigint AND s.viewer_id = $2 AND s.seconds IS NOT NULL AND NOT EXISTS "
      "(SELECT 1 FROM reports r WHERE r.reporter_id = $2 AND r.ref = ($1::bigint)::text)",
      {row, viewerID});
  if (!rows) return Failed{rows.error()};
  if (rows->count() == 0) return std::optional<int64_t>();
  return std::optional<int64_t>(rows->number(0, 0));
}

Result<void> PgStore::addReport(const Report& r, int64_t received) {
  auto rows = db_->run(
      "INSERT INTO reports (reporter_id, msg_id, ref, started, ended, seconds, helped_id, pc_name, helper_name, "
      "customer, contact, billable, minutes, description, received, measured_seconds) "
      "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16) ON CONFLICT DO NOTHING",
      {r.reporterID, r.msgID, r.ref, r.started, r.ended, r.seconds, r.helpedID, r.pcName, r.helperName, r.customer,
       r.contact, int64_t(r.billable ? 1 : 0), r.minutes, r.description, received, r.measuredSeconds});
  if (!rows) return Failed{rows.error()};
  return {};
}

Result<bool> PgStore::hasReport(const std::string& reporterID, const std::string& msgID) {
  auto rows = db_->run("SELECT 1 FROM reports WHERE reporter_id = $1 AND msg_id = $2", {reporterID, msgID});
  if (!rows) return Failed{rows.error()};
  return rows->count() > 0;
}

std::optional<UsageStore::Usage> PgStore::usage(int64_t row) {
  auto rows = db_->run("SELECT viewer_id, host_id, reported_by, started, seconds FROM sessions WHERE row = $1", {row});
  if (!rows || rows->count() == 0) return std::nullopt;
  Usage u;
  u.viewerID = rows->text(0, 0);
  u.hostID = rows->text(0, 1);
  u.reportedBy = rows->text(0, 2);
  u.started = rows->number(0, 3);
  if (!rows->isNull(0, 4)) u.seconds = rows->number(0, 4);
  return u;
}

int64_t PgStore::usageCount() {
  auto rows = db_->run("SELECT COUNT(*) FROM sessions");
  return rows ? rows->number(0, 0) : 0;
}

std::optional<UsageStore::Report> PgStore::report(int64_t row) {
  auto rows = db_->run(("SELECT " + std::string(kReportColumns) + " FROM reports WHERE row = $1").c_str(), {row});
  if (!rows || rows->count() == 0) return std::nullopt;
  return reportAt(*rows, 0, 0);
}

int64_t PgStore::reportCount() {
  auto rows = db_->run("SELECT COUNT(*) FROM reports");
  return rows ? rows->number(0, 0) : 0;
}

Result<void> PgStore::usageBetween(int64_t from, int64_t to, const std::function<void(const UsageLine&)>& each) {
  // One export's rows at once: a month of a large company's sessions is a
  // few megabytes.
  auto rows = db_->run(
      "SELECT s.row, s.viewer_id, s.host_id, s.reported_by, s.started, s.seconds, r.row, r.reporter_id, r.msg_id, "
      "r.ref, r.started, r.ended, r.seconds, r.helped_id, r.pc_name, r.helper_name, r.customer, r.contact, "
      "r.billable, r.minutes, r.description, r.measured_seconds "
      "FROM sessions s LEFT JOIN reports r ON r.reporter_id = s.viewer_id AND r.ref = s.row::text "
      "WHERE s.started >= $1 AND s.started < $2 ORDER BY s.started, s.row",
      {from, to});
  if (!rows) return Failed{rows.error()};
  for (int i = 0; i < rows->count(); ++i) {
    UsageLine line;
    line.row = rows->number(i, 0);
    line.usage.viewerID = rows->text(i, 1);
    line.usage.hostID = rows->text(i, 2);
    line.usage.reportedBy = rows->text(i, 3);
    line.usage.started = rows->number(i, 4);
    if (!rows->isNull(i, 5)) line.usage.seconds = rows->number(i, 5);
    if (!rows->isNull(i, 6)) line.report = reportAt(*rows, i, 7);
    each(line);
  }
  return {};
}

}  // namespace plimo
