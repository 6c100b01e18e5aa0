#include "server/SqliteStore.h"

#include <sqlite3.h>

namespace plimo {

namespace {

// The report in the columns of a statement from `first` on, in the order
// reporter_id, msg_id, ref, started, ended, seconds, helped_id, pc_name,
// helper_name, customer, contact, billable, minutes, description,
// measured_seconds.
SqliteStore::Report readReport(sqlite3_stmt* s, int first) {
  SqliteStore::Report r;
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

}  // namespace

Result<void> SqliteStore::prepareUsage() {
  auto prepared = prepareKept(
      db_,
      {
          {&startUsage_,
           "INSERT INTO sessions (viewer_id, host_id, reported_by, started) VALUES (?1, ?2, ?3, ?4)"},
          {&endUsage_, "UPDATE sessions SET seconds = ?2 WHERE row = ?1"},
          {&getUsage_, "SELECT viewer_id, host_id, reported_by, started, seconds FROM sessions WHERE row = ?1"},
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
      });
  return prepared;
}

Result<int64_t> SqliteStore::startUsage(const std::string& viewerID, const std::string& hostID,
                                        const std::string& reportedBy, int64_t started) {
  Use s(startUsage_.get());
  bindText(*s, 1, viewerID);
  bindText(*s, 2, hostID);
  bindText(*s, 3, reportedBy);
  sqlite3_bind_int64(*s, 4, started);
  // AUTOINCREMENT: rows deleted by hand keep their numbers used.
  if (auto inserted = stepped(db_, sqlite3_step(*s)); !inserted) return Failed{inserted.error()};
  return int64_t(sqlite3_last_insert_rowid(db_));
}

Result<void> SqliteStore::endUsage(int64_t row, int64_t seconds) {
  Use s(endUsage_.get());
  sqlite3_bind_int64(*s, 1, row);
  sqlite3_bind_int64(*s, 2, seconds);
  if (auto done = stepped(db_, sqlite3_step(*s)); !done) return done;
  if (sqlite3_changes(db_) != 1) return Failed{"no session record " + std::to_string(row)};
  return {};
}

std::optional<SqliteStore::Usage> SqliteStore::usage(int64_t row) {
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

Result<void> SqliteStore::markAsked(int64_t row) {
  Use s(markAsked_.get());
  sqlite3_bind_int64(*s, 1, row);
  return stepped(db_, sqlite3_step(*s));
}

Result<std::optional<int64_t>> SqliteStore::askedLength(int64_t row, const std::string& viewerID) {
  Use s(askedLength_.get());
  sqlite3_bind_int64(*s, 1, row);
  bindText(*s, 2, viewerID);
  int rc = sqlite3_step(*s);
  if (rc == SQLITE_DONE) return std::optional<int64_t>();
  if (rc != SQLITE_ROW) return lastError(db_);
  return std::optional<int64_t>(sqlite3_column_int64(*s, 0));
}

Result<bool> SqliteStore::hasReport(const std::string& reporterID, const std::string& msgID) {
  Use s(hasReport_.get());
  bindText(*s, 1, reporterID);
  bindText(*s, 2, msgID);
  int rc = sqlite3_step(*s);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return lastError(db_);
  return rc == SQLITE_ROW;
}

Result<void> SqliteStore::addReport(const Report& r, int64_t received) {
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
  return stepped(db_, sqlite3_step(*s));
}

int64_t SqliteStore::reportCount() {
  Use s(countReports_.get());
  return sqlite3_step(*s) == SQLITE_ROW ? sqlite3_column_int64(*s, 0) : 0;
}

std::optional<SqliteStore::Report> SqliteStore::report(int64_t row) {
  Use s(getReport_.get());
  sqlite3_bind_int64(*s, 1, row);
  if (sqlite3_step(*s) != SQLITE_ROW) return std::nullopt;
  return readReport(*s, 0);
}

int64_t SqliteStore::usageCount() {
  Use s(countUsage_.get());
  return sqlite3_step(*s) == SQLITE_ROW ? sqlite3_column_int64(*s, 0) : 0;
}

Result<void> SqliteStore::usageBetween(int64_t from, int64_t to,
                                       const std::function<void(const UsageLine&)>& each) {
  // Run once per export, so prepared here rather than kept.
  static constexpr const char* kSql =
      "SELECT s.row, s.viewer_id, s.host_id, s.reported_by, s.started, s.seconds, r.row, r.reporter_id, r.msg_id, "
      "r.ref, r.started, r.ended, r.seconds, r.helped_id, r.pc_name, r.helper_name, r.customer, r.contact, "
      "r.billable, r.minutes, r.description, r.measured_seconds "
      "FROM sessions s LEFT JOIN reports r ON r.reporter_id = s.viewer_id AND r.ref = CAST(s.row AS TEXT) "
      "WHERE s.started >= ?1 AND s.started < ?2 ORDER BY s.started, s.row";
  Result<Statement> statement = prepareOnce(db_, kSql);
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
  return stepped(db_, rc);
}

}  // namespace plimo
