#pragma once
// What the parts of the server's database share about SQLite statements:
// prepared statements that finalize themselves, a guard that resets one
// after use, and the binding and reading of text.
//
// One thread per connection, as the connection's owner.

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

#include "core/Result.h"

struct sqlite3;
struct sqlite3_stmt;

namespace plimo {

struct StatementDeleter {
  void operator()(sqlite3_stmt* s) const;
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

// Resets a statement when the caller is done with it, whatever path it takes.
class Use {
 public:
  explicit Use(sqlite3_stmt* s) : s_(s) {}
  ~Use();
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;
  sqlite3_stmt* operator*() const { return s_; }

 private:
  sqlite3_stmt* s_;
};

void bindText(sqlite3_stmt* s, int index, const std::string& text);
std::string columnText(sqlite3_stmt* s, int index);

// The connection's last error.
Failed lastError(sqlite3* db);
// Done when a one-step statement stepped to its end.
Result<void> stepped(sqlite3* db, int rc);
// Statements kept for the connection's life.
Result<void> prepareKept(sqlite3* db, std::initializer_list<std::pair<Statement*, const char*>> items);
// A statement run once (not kept).
Result<Statement> prepareOnce(sqlite3* db, const char* sql);

}  // namespace plimo
