#pragma once
// Helpers' billing reports: "REPORT msgID i n piece" lines are gathered per
// client until all n pieces are there, decoded (Base64 of 13 LF-separated
// lines, tag "R1"), stored once, and confirmed with "REPORT OK msgID". A
// report is taken only on a usage record whose helper the reporter was and
// which the server asked it about (REPORTASK), once per record; the minutes
// it bills are kept beside the server's measured length.
// Refusals are "ERR REPORT_..." lines the client understands: REPORT_RATE
// and REPORT_NOT_READY (it tries again later), REPORT_BAD (it drops the report).
//
// One thread (the server loop). A line that is no report, or over the
// budget, is answered on the loop; a complete report is checked against its
// record and stored on the store's thread and answered when that is done,
// or refused with REPORT_NOT_READY while the store is busy. Owned by the
// RelayServer.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "server/HandlerContext.h"
#include "server/ServerStore.h"

namespace plimo {

class Reports {
 public:
  // A client's form refuses payloads over 6,400 characters: 8 pieces of 800.
  static constexpr size_t kMaxPieces = 10;
  static constexpr size_t kMaxPiece = 800;
  // Reports one client may store in a minute; a helper writes one per session.
  static constexpr int kPerMinute = 20;
  // Reports being gathered at once, server-wide (8 KB each at most).
  static constexpr size_t kMaxAssemblies = 4096;
  // A client sends all pieces of a report at once and gives up on an answer
  // after 30 s; half a report older than that will not be completed.
  static constexpr double kAssemblyLife = 30.0;

  explicit Reports(HandlerContext& server) : server_(server) {}

  void report(const ClientSession& session, const std::vector<std::string>& words);
  // The session is ending: a half-sent report is dropped (the client sends
  // it whole again).
  void sessionEnded(const ClientSession& session);
  // Drops half-sent reports older than kAssemblyLife.
  void expire(double now);

  // The report in a payload, or nothing when it is not one.
  static std::optional<ServerStore::Report> decode(const std::string& base64);

 private:
  struct Assembly {
    double started = 0;
    std::string msgID;
    std::vector<std::string> pieces;
    size_t have = 0;
  };
  struct Budget {
    double windowStart = 0;
    int count = 0;  // stored this minute, or on their way to the store
  };

  // A complete report as it goes to the store's thread: the reporter by
  // its serial and the ID it had.
  struct Submitted {
    uint64_t serial = 0;
    std::string reporterID;
    std::string msgID;
    int64_t row = 0;  // the usage record it names
    ServerStore::Report report;
  };
  struct Stored {
    enum Outcome { added, again, bad, notReady } outcome = notReady;
    std::string what;   // for the log: the helped ID and the ref
    std::string error;  // why the database failed, for the log
  };

  void accept(const ClientSession& session, const std::string& msgID, const std::string& payload);
  // The store's thread.
  static Stored write(ServerStore& store, Submitted submitted, int64_t received);
  void written(const Submitted& submitted, const Stored& result);

  HandlerContext& server_;
  std::unordered_map<uint64_t, Assembly> assemblies_;  // by session serial
  std::unordered_map<uint64_t, Budget> budgets_;
};

}  // namespace plimo
