#pragma once
// The usage records of partner sessions that a company bills from, and the
// reports helpers give on them. A part of ServerStore, which each engine
// implements.
//
// One thread per connection.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/Result.h"
#include "protocol/wire/ReportPayload.h"

namespace plimo {

class UsageStore {
 public:
  // A new usage record: the helper's (viewer's) and the helped PC's (host's)
  // IDs, which side reported it first, and its start in Unix seconds.
  // Returns its row number, from the store's own sequence, so that any
  // number of servers write records beside each other.
  virtual Result<int64_t> startUsage(const std::string& viewerID, const std::string& hostID,
                                     const std::string& reportedBy, int64_t started) = 0;
  // Sets the length of a record in seconds (it may be called again to extend
  // it); fails for a row that is not there.
  virtual Result<void> endUsage(int64_t row, int64_t seconds) = 0;
  // The helper of record `row` was asked for a report on it.
  virtual Result<void> markAsked(int64_t row) = 0;
  // The measured length of record `row` when `viewerID` was its helper, was
  // asked about it and has not reported on it yet (a report's ref is the
  // record's row in decimal); nothing otherwise.
  virtual Result<std::optional<int64_t>> askedLength(int64_t row, const std::string& viewerID) = 0;

  // A helper's billing report on one session, with who sent it.
  struct Report : ReportFields {
    std::string reporterID;  // the helper's ID
    std::string msgID;       // the helper's own number for it; resends repeat it
    int64_t measuredSeconds = 0;  // the server's own measure of the record
  };
  // Stores a report once: a resend with the same reporter and msgID changes
  // nothing.
  virtual Result<void> addReport(const Report& report, int64_t received) = 0;
  // True when `reporterID` already stored its report `msgID`.
  virtual Result<bool> hasReport(const std::string& reporterID, const std::string& msgID) = 0;

  struct Usage {
    std::string viewerID;
    std::string hostID;
    std::string reportedBy;
    int64_t started = 0;
    std::optional<int64_t> seconds;
  };
  // For tests and tools: nothing, or 0, also when the read failed.
  virtual std::optional<Usage> usage(int64_t row) = 0;
  virtual int64_t usageCount() = 0;
  virtual std::optional<Report> report(int64_t row) = 0;
  virtual int64_t reportCount() = 0;

  // A usage record and the report its helper gave on it, for invoices.
  struct UsageLine {
    int64_t row = 0;
    Usage usage;
    std::optional<Report> report;
  };
  // Each record that started in [from, to) (Unix seconds), oldest first.
  virtual Result<void> usageBetween(int64_t from, int64_t to, const std::function<void(const UsageLine&)>& each) = 0;

 protected:
  virtual ~UsageStore() = default;
};

}  // namespace plimo
