#include "server/StoreStatements.h"

#include <sqlite3.h>

namespace plimo {

void StatementDeleter::operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }

Use::~Use() {
  sqlite3_reset(s_);
  sqlite3_clear_bindings(s_);
}

void bindText(sqlite3_stmt* s, int index, const std::string& text) {
  sqlite3_bind_text(s, index, text.data(), int(text.size()), SQLITE_TRANSIENT);
}

std::string columnText(sqlite3_stmt* s, int index) {
  auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, index));
  return text ? std::string(text, size_t(sqlite3_column_bytes(s, index))) : std::string();
}

Failed lastError(sqlite3* db) { return Failed{sqlite3_errmsg(db)}; }

Result<void> stepped(sqlite3* db, int rc) {
  if (rc != SQLITE_DONE) return lastError(db);
  return {};
}

Result<void> prepareKept(sqlite3* db, std::initializer_list<std::pair<Statement*, const char*>> items) {
  for (const auto& [statement, sql] : items) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK) return lastError(db);
    statement->reset(s);
  }
  return {};
}

Result<Statement> prepareOnce(sqlite3* db, const char* sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) return lastError(db);
  return Statement(raw);
}

}  // namespace plimo
