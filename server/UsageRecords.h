#pragma once
// The usage records of partner sessions while they are open: one per pair of
// IDs (helper and helped PC), with the server session of each side while it
// has one. Opening writes the record's start; closing writes the length the
// server measured and then asks the helper, when it is online, for its report
// on the record (REPORTASK), so that its report never arrives before.
//
// One thread (the server loop); the records are written on the store's
// thread, in order. Owned by Rendezvous, which decides when records open and
// close.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "server/HandlerContext.h"

namespace plimo {

class UsageRecords {
 public:
  struct Usage {
    std::shared_ptr<const int64_t> row;  // the store's side reads it (StoreWorker::startUsage)
    std::string viewerID;
    std::string hostID;
    double started = 0;       // monotonic
    int64_t startedWall = 0;  // Unix seconds
    uint64_t viewerSerial = 0;  // 0 once that side's server session is gone
    uint64_t hostSerial = 0;
  };

  explicit UsageRecords(HandlerContext& server) : server_(server) {}

  // The number of the open record of that pair, 0 when none.
  uint64_t find(const std::string& viewerID, const std::string& hostID) const;
  // A new record; `role` is the side that reported it ("V" or "H").
  uint64_t open(const std::string& viewerID, const std::string& hostID, const std::string& role);
  // Nothing once the record is closed.
  Usage* at(uint64_t number);
  // The server session `serial` of a side is gone; true when neither side
  // has one any more (the record is to close).
  bool sideGone(uint64_t number, uint64_t serial);
  void close(uint64_t number);

  size_t count() const { return usages_.size(); }

 private:
  // An ended record as it goes to the store's thread; the helper is found
  // again by its serial when the write is done.
  struct Ended {
    std::shared_ptr<const int64_t> row;
    std::string viewerID;
    std::string hostID;
    uint64_t helperSerial = 0;
    int64_t startedWall = 0;
    int64_t seconds = 0;
    bool askHelper = false;  // the helper was online: it is asked for a report
  };
  struct EndResult {
    int64_t row = 0;
    bool asked = false;
    std::string lengthError, askError;  // why a write failed, for the log
  };
  // The store's thread: the length, and that the helper was asked.
  static EndResult record(ServerStore& store, const Ended& ended);
  void recorded(const Ended& ended, const EndResult& result);
  bool sideOnline(uint64_t serial, const std::string& id);

  HandlerContext& server_;
  uint64_t next_ = 1;
  std::unordered_map<uint64_t, Usage> usages_;
  std::unordered_map<std::string, uint64_t> byPair_;  // "viewer host" → number
};

}  // namespace plimo
