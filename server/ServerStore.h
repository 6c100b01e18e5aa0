#pragma once
// The server's database: kept IDs (with only a hash of their secret), the
// helpers trusted with unattended PCs, and the usage records of partner
// sessions that a company bills from.
//
// One thread per connection (the server writes on its store thread and
// reads on its loop through a second connection). Every write is its own
// transaction; the database runs in WAL mode so that readers (the loop,
// exports, sqlite3 on the command line) never wait for a writer.

#include <functional>
#include <memory>
#include <string>

#include "core/Result.h"
#include "server/PinStore.h"
#include "server/UsageStore.h"

namespace plimo {

// The kept IDs and trusted helpers are a PinStore, the records and reports a
// UsageStore: both on this one connection.
class ServerStore : public PinStore, public UsageStore {
 public:
  // Opens or creates the database at `path` (":memory:" for tests); fails
  // when it cannot be opened or its tables not made.
  static Result<std::unique_ptr<ServerStore>> open(const std::string& path);
  ~ServerStore();
  ServerStore(const ServerStore&) = delete;
  ServerStore& operator=(const ServerStore&) = delete;

  // How long a statement waits for another connection's lock before it
  // fails (2 s from open).
  void waitForLocks(int milliseconds);
  // Statements wait for another connection's lock however long it is held
  // (writes that must not be lost); `waiting` runs, on the statement's
  // thread, once a statement has waited about a second.
  void waitForLocksWithoutLimit(std::function<void()> waiting);

 private:
  explicit ServerStore(sqlite3* db);
  Result<void> exec(const char* sql);
  bool hasColumn(const char* table, const char* column);
  Result<void> bindTrustToPins();

  sqlite3* db_;
  std::function<void()> waiting_;
};

}  // namespace plimo
