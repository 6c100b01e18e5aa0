#pragma once
// The usage records of partner sessions that a company bills from, and the
// reports helpers give on them. A part of ServerStore, on its connection.
//
// One thread per connection, but reserveUsageRow.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/Result.h"
#include "protocol/wire/ReportPayload.h"
#include "server/StoreStatements.h"

namespace plimo {

class UsageStore {
 public:
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

 protected:
  explicit UsageStore(sqlite3* db) : db_(db) {}
  ~UsageStore() = default;
  // Once the tables are there.
  Result<void> prepareUsage();

 private:
  Result<void> readLastUsageRow();

  sqlite3* db_;
  std::atomic<int64_t> lastUsageRow_{0};
  Statement startUsage_, endUsage_, getUsage_, countUsage_, markAsked_, askedLength_, addReport_, hasReport_,
      countReports_, getReport_;
};

}  // namespace plimo
