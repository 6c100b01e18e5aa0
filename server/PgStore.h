#pragma once
// The server's database on PostgreSQL, which every server of a company's
// fleet shares: the schema of SqliteStore, its row numbers from the
// database's sequences. Made on first open; servers starting at once make
// it one after the other.
//
// One thread per connection.

#include <memory>
#include <string>

#include "server/PgConnection.h"
#include "server/ServerStore.h"

namespace plimo {

class PgStore final : public ServerStore {
 public:
  static Result<std::unique_ptr<ServerStore>> open(const std::string& conninfo);

  void waitForLocks(int milliseconds) override { db_->waitForLocks(milliseconds); }
  void waitForLocksWithoutLimit(std::function<void()> waiting) override { db_->waitWithoutLimit(std::move(waiting)); }

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
  explicit PgStore(std::unique_ptr<PgConnection> db) : db_(std::move(db)) {}

  std::unique_ptr<PgConnection> db_;
};

}  // namespace plimo
