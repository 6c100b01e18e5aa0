#pragma once
// The server's database in one SQLite file: the embedded store of a server
// that serves alone. WAL mode, so that readers (the loop, exports, sqlite3 on
// the command line) never wait for a writer.
//
// One thread per connection.

#include <functional>
#include <memory>
#include <string>

#include "server/ServerStore.h"
#include "server/StoreStatements.h"

namespace plimo {

class SqliteStore final : public ServerStore {
 public:
  // Opens or creates the database at `path` (":memory:" for tests).
  static Result<std::unique_ptr<ServerStore>> open(const std::string& path);
  ~SqliteStore() override;
  SqliteStore(const SqliteStore&) = delete;
  SqliteStore& operator=(const SqliteStore&) = delete;

  void waitForLocks(int milliseconds) override;
  void waitForLocksWithoutLimit(std::function<void()> waiting) override;

  Result<std::optional<Bytes>> pinHash(const std::string& id) override;
  Result<void> setPin(const std::string& id, ByteView secretHash, int64_t when) override;
  Result<void> removePin(const std::string& id) override;
  Result<bool> trustHelper(const std::string& id, const std::string& name, int64_t when) override;
  Result<bool> distrustHelper(const std::string& id) override;
  Result<std::optional<Helper>> trustedHelper(const std::string& id) override;
  Result<std::vector<Helper>> trustedHelpers() override;
  Result<int64_t> trustedHelperCount() override;

  Result<int64_t> startUsage(const std::string& viewerID, const std::string& hostID, const std::string& reportedBy,
                             int64_t started) override;
  Result<void> endUsage(int64_t row, int64_t seconds) override;
  Result<void> markAsked(int64_t row) override;
  Result<std::optional<int64_t>> askedLength(int64_t row, const std::string& viewerID) override;
  Result<void> addReport(const Report& report, int64_t received) override;
  Result<bool> hasReport(const std::string& reporterID, const std::string& msgID) override;
  std::optional<Usage> usage(int64_t row) override;
  int64_t usageCount() override;
  std::optional<Report> report(int64_t row) override;
  int64_t reportCount() override;
  Result<void> usageBetween(int64_t from, int64_t to, const std::function<void(const UsageLine&)>& each) override;

  Result<void> heartbeat(const std::string& server, int64_t when, int64_t clients, int64_t sessions) override;
  Result<void> announce(const std::string& server, const std::string& relay, const std::string& relayKey) override;
  Result<void> clearPresence(const std::string& server) override;
  Result<void> setPresence(const std::string& id, const std::string& server, const std::string& address,
                           int64_t when) override;
  Result<void> dropPresence(const std::string& id, const std::string& server) override;
  Result<std::optional<std::string>> presentOn(const std::string& id, int64_t now) override;
  Result<std::vector<Server>> servers() override;

 private:
  explicit SqliteStore(sqlite3* db) : db_(db) {}
  Result<void> exec(const char* sql);
  bool hasColumn(const char* table, const char* column);
  Result<void> bindTrustToPins();
  // Once the tables are there.
  Result<void> preparePins();
  Result<void> prepareUsage();
  Result<void> preparePresence();

  sqlite3* db_;
  std::function<void()> waiting_;
  Statement getPin_, setPin_, removePin_, trustHelper_, distrustHelper_, getHelper_, listHelpers_, countHelpers_;
  Statement startUsage_, endUsage_, getUsage_, countUsage_, markAsked_, askedLength_, addReport_, hasReport_,
      countReports_, getReport_;
  Statement heartbeat_, announce_, clearPresence_, setPresence_, dropPresence_, presentOn_, servers_;
};

}  // namespace plimo
