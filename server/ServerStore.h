#pragma once
// The server's database: kept IDs (with only a hash of their secret), the
// helpers trusted with unattended PCs, the usage records of partner
// sessions that a company bills from, and which server holds which ID. Two engines hold it with one schema:
// SQLite in the data folder (SqliteStore, one server) and PostgreSQL
// (PgStore, any number of servers of one company).
//
// One thread per connection (the server writes on its store thread and
// reads on its loop through a second connection). Every write is its own
// transaction; readers (the loop, exports, the engine's own tools) never
// wait for a writer.

#include <functional>
#include <memory>
#include <string>

#include "core/Result.h"
#include "server/PinStore.h"
#include "server/PresenceStore.h"
#include "server/UsageStore.h"

namespace plimo {

class ServerStore : public PinStore, public UsageStore, public PresenceStore {
 public:
  // A PostgreSQL connection string ("postgresql://…"; "postgresql://" alone
  // takes the PG* variables) or the path of an SQLite database (":memory:"
  // for tests). Fails when it cannot be opened or its tables not made.
  static Result<std::unique_ptr<ServerStore>> open(const std::string& where);
  static bool isPostgres(const std::string& where);
  ~ServerStore() override = default;

  // How long a statement waits for another connection's lock before it
  // fails (2 s from open).
  virtual void waitForLocks(int milliseconds) = 0;
  // Statements wait for another connection's lock however long it is held
  // (writes that must not be lost); `waiting` runs, on the statement's
  // thread, once a statement has waited about a second.
  virtual void waitForLocksWithoutLimit(std::function<void()> waiting) = 0;
};

}  // namespace plimo
