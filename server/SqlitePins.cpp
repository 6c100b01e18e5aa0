#include "server/SqliteStore.h"

#include <sqlite3.h>

namespace plimo {

Result<void> SqliteStore::preparePins() {
  return prepareKept(
      db_,
      {
          {&getPin_, "SELECT secret_hash FROM pins WHERE id = ?1"},
          {&setPin_,
           "INSERT INTO pins (id, secret_hash, created, last_seen) VALUES (?1, ?2, ?3, ?3) "
           "ON CONFLICT(id) DO UPDATE SET secret_hash = ?2, last_seen = ?3"},
          {&removePin_, "DELETE FROM pins WHERE id = ?1"},
          // Nothing is written for an ID that is not kept. Trusting again binds
          // to the pin of now; its date is the binding's.
          {&trustHelper_,
           "INSERT INTO trusted_helpers (id, name, added, pin_hash) SELECT ?1, ?2, ?3, secret_hash FROM pins "
           "WHERE id = ?1 ON CONFLICT(id) DO UPDATE SET name = excluded.name, "
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
      });
}

Result<std::optional<Bytes>> SqliteStore::pinHash(const std::string& id) {
  Use s(getPin_.get());
  bindText(*s, 1, id);
  int rc = sqlite3_step(*s);
  if (rc == SQLITE_DONE) return std::optional<Bytes>();
  if (rc != SQLITE_ROW) return lastError(db_);
  auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(*s, 0));
  return std::optional<Bytes>(Bytes(data, data + sqlite3_column_bytes(*s, 0)));
}

Result<void> SqliteStore::setPin(const std::string& id, ByteView secretHash, int64_t when) {
  Use s(setPin_.get());
  bindText(*s, 1, id);
  sqlite3_bind_blob(*s, 2, secretHash.data(), int(secretHash.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int64(*s, 3, when);
  return stepped(db_, sqlite3_step(*s));
}

Result<void> SqliteStore::removePin(const std::string& id) {
  Use s(removePin_.get());
  bindText(*s, 1, id);
  return stepped(db_, sqlite3_step(*s));
}

Result<bool> SqliteStore::trustHelper(const std::string& id, const std::string& name, int64_t when) {
  Use s(trustHelper_.get());
  bindText(*s, 1, id);
  bindText(*s, 2, name);
  sqlite3_bind_int64(*s, 3, when);
  if (sqlite3_step(*s) != SQLITE_DONE) return lastError(db_);
  return sqlite3_changes(db_) > 0;
}

Result<bool> SqliteStore::distrustHelper(const std::string& id) {
  Use s(distrustHelper_.get());
  bindText(*s, 1, id);
  if (sqlite3_step(*s) != SQLITE_DONE) return lastError(db_);
  return sqlite3_changes(db_) > 0;
}

namespace {

SqliteStore::Helper helperAt(sqlite3_stmt* s) {
  SqliteStore::Helper h;
  h.id = columnText(s, 0);
  h.name = columnText(s, 1);
  h.added = sqlite3_column_int64(s, 2);
  h.kept = sqlite3_column_int64(s, 3) != 0;
  h.suspended = sqlite3_column_int64(s, 4) != 0;
  return h;
}

}  // namespace

Result<std::optional<SqliteStore::Helper>> SqliteStore::trustedHelper(const std::string& id) {
  Use s(getHelper_.get());
  bindText(*s, 1, id);
  int rc = sqlite3_step(*s);
  if (rc == SQLITE_DONE) return std::optional<Helper>();
  if (rc != SQLITE_ROW) return lastError(db_);
  return std::optional<Helper>(helperAt(*s));
}

Result<std::vector<SqliteStore::Helper>> SqliteStore::trustedHelpers() {
  Use s(listHelpers_.get());
  std::vector<Helper> helpers;
  int rc;
  while ((rc = sqlite3_step(*s)) == SQLITE_ROW) helpers.push_back(helperAt(*s));
  if (rc != SQLITE_DONE) return lastError(db_);
  return helpers;
}

Result<int64_t> SqliteStore::trustedHelperCount() {
  Use s(countHelpers_.get());
  if (sqlite3_step(*s) != SQLITE_ROW) return lastError(db_);
  return sqlite3_column_int64(*s, 0);
}

}  // namespace plimo
