#pragma once
// The server's database: kept IDs (with only a hash of their secret), the
// helpers trusted with unattended PCs, and the usage records of partner
// sessions that a company bills from.
//
// One thread per connection (the server writes on its store thread and
// reads on its loop through a second connection). Every write is its own
// transaction; the database runs in WAL mode so that readers (the loop,
// exports, sqlite3 on the command line) never wait for a writer.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Bytes.h"
#include "core/Result.h"
#include "protocol/wire/ReportPayload.h"

struct sqlite3;
struct sqlite3_stmt;

namespace plimo {

class ServerStore {
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

  // The stored hash of the secret that keeps `id`, or nothing when the ID is
  // not kept.
  Result<std::optional<Bytes>> pinHash(const std::string& id);
  // Keeps `id` for the holder of the secret whose hash is given (replaces an
  // earlier hash); `when` (Unix seconds) also becomes its last use, so an
  // administrator can find IDs no PC has claimed for years.
  Result<void> setPin(const std::string& id, ByteView secretHash, int64_t when);
  Result<void> removePin(const std::string& id);

  // Helpers let into PCs with unattended access. The list is read on every
  // such CONNECT, so that `plimo-server --trust-helper` in another process
  // takes effect on a running server. Trust goes to the pin the ID had when
  // it was trusted, not to the ID: an ID given up (unpinned) passes to
  // whichever PC registers it next. Once that pin goes or changes, the entry
  // is suspended until it is trusted again, even if the same secret keeps
  // the ID again.
  struct Helper {
    std::string id;
    std::string name;  // for the log; may be empty
    int64_t added = 0;  // Unix seconds
    bool kept = false;  // the ID is kept with a secret (pinned) now
    bool suspended = false;  // the pin it was trusted with is gone: let in nowhere
  };
  // Trusts the holder of the secret that keeps `id` now (renaming the entry,
  // and lifting a suspension, when there is one). True when the ID was kept:
  // one that is not is not trusted.
  Result<bool> trustHelper(const std::string& id, const std::string& name, int64_t when);
  // True when the ID was listed.
  Result<bool> distrustHelper(const std::string& id);
  // The listed helper `id`, suspended or not, or nothing.
  Result<std::optional<Helper>> trustedHelper(const std::string& id);
  // All of them, by ID.
  Result<std::vector<Helper>> trustedHelpers();
  // How many are trusted and not suspended.
  Result<int64_t> trustedHelperCount();

  // A new usage record: the helper's (viewer's) and the helped PC's (host's)
  // IDs, which side reported it first, and its start in Unix seconds.
  // Returns its row number.
  Result<int64_t> startUsage(const std::string& viewerID, const std::string& hostID, const std::string& reportedBy,
                             int64_t started);
  // The row number of a usage record about to be written, so that a caller
  // knows it before the write has run: this connection numbers the records
  // (from the highest at open; nothing else writes them). Any thread.
  int64_t reserveUsageRow() { return ++lastUsageRow_; }
  // startUsage with a reserved row.
  Result<void> insertUsage(int64_t row, const std::string& viewerID, const std::string& hostID,
                           const std::string& reportedBy, int64_t started);
  // Sets the length of a record in seconds (it may be called again to extend
  // it); fails for a row that is not there.
  Result<void> endUsage(int64_t row, int64_t seconds);
  // The helper of record `row` was asked for a report on it.
  Result<void> markAsked(int64_t row);
  // The measured length of record `row` when `viewerID` was its helper, was
  // asked about it and has not reported on it yet (a report's ref is the
  // record's row in decimal); nothing otherwise.
  Result<std::optional<int64_t>> askedLength(int64_t row, const std::string& viewerID);

  // A helper's billing report on one session, with who sent it.
  struct Report : ReportFields {
    std::string reporterID;  // the helper's ID
    std::string msgID;       // the helper's own number for it; resends repeat it
    int64_t measuredSeconds = 0;  // the server's own measure of the record
  };
  // Stores a report once: a resend with the same reporter and msgID changes
  // nothing.
  Result<void> addReport(const Report& report, int64_t received);
  // True when `reporterID` already stored its report `msgID`.
  Result<bool> hasReport(const std::string& reporterID, const std::string& msgID);

  struct Usage {
    std::string viewerID;
    std::string hostID;
    std::string reportedBy;
    int64_t started = 0;
    std::optional<int64_t> seconds;
  };
  // For tests and tools: nothing, or 0, also when the read failed.
  std::optional<Usage> usage(int64_t row);
  int64_t usageCount();
  std::optional<Report> report(int64_t row);
  int64_t reportCount();

  // A usage record and the report its helper gave on it, for invoices.
  struct UsageLine {
    int64_t row = 0;
    Usage usage;
    std::optional<Report> report;
  };
  // Each record that started in [from, to) (Unix seconds), oldest first.
  Result<void> usageBetween(int64_t from, int64_t to, const std::function<void(const UsageLine&)>& each);

 private:
  explicit ServerStore(sqlite3* db);
  Result<void> prepare();
  Result<void> exec(const char* sql);
  bool hasColumn(const char* table, const char* column);
  Result<void> bindTrustToPins();
  Result<void> readLastUsageRow();
  // The connection's last error.
  Failed failed() const;
  // Done when a one-step statement stepped to its end.
  Result<void> stepped(int rc) const;

  struct StatementDeleter {
    void operator()(sqlite3_stmt* s) const;
  };
  using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;
  // A statement run once (not kept).
  Result<Statement> prepareOnce(const char* sql);

  sqlite3* db_;
  std::atomic<int64_t> lastUsageRow_{0};
  std::function<void()> waiting_;
  Statement getPin_, setPin_, removePin_, trustHelper_, distrustHelper_, getHelper_, listHelpers_,
      countHelpers_, startUsage_, endUsage_, getUsage_, countUsage_, markAsked_,
      askedLength_, addReport_, hasReport_, countReports_, getReport_;
};

}  // namespace plimo
