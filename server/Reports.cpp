#include "server/Reports.h"

#include <cctype>
#include <charconv>

#include "server/IdRegistry.h"
#include "server/Registrant.h"
#include "server/TextLine.h"

namespace plimo {

namespace {

bool parseInt(const std::string& text, int64_t& out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

bool isMsgID(const std::string& text) {
  if (text.empty() || text.size() > 16) return false;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

std::optional<ServerStore::Report> Reports::decode(const std::string& base64) {
  if (base64.size() > kMaxPieces * kMaxPiece) return std::nullopt;
  auto fields = ReportPayload::decode(base64);
  if (!fields) return std::nullopt;
  ServerStore::Report r;
  static_cast<ReportFields&>(r) = std::move(*fields);
  return r;
}

void Reports::report(const ClientSession& session, const std::vector<std::string>& words) {
  // REPORT msgID i n piece
  const std::string& msgID = word(words, 1);
  int64_t index = 0, count = 0;
  if (words.size() != 5 || !isMsgID(msgID) || !parseInt(words[2], index) || !parseInt(words[3], count) ||
      count < 1 || count > int64_t(kMaxPieces) || index < 0 || index >= count || words[4].empty() ||
      words[4].size() > kMaxPiece) {
    server_.say(session, "ERR REPORT_BAD");
    return;
  }
  if (server_.registrant(session).id.empty()) {
    server_.say(session, "ERR REPORT_NOT_READY");
    return;
  }
  if (!assemblies_.count(session.serial) && assemblies_.size() >= kMaxAssemblies) {
    server_.say(session, "ERR REPORT_NOT_READY");
    return;
  }
  Assembly& a = assemblies_[session.serial];
  if (a.msgID != msgID || a.pieces.size() != size_t(count)) {
    // A new report (or the same one sent again from its start).
    a.started = server_.now();
    a.msgID = msgID;
    a.pieces.assign(size_t(count), std::string());
    a.have = 0;
  }
  if (a.pieces[size_t(index)].empty()) ++a.have;
  a.pieces[size_t(index)] = words[4];
  if (a.have < a.pieces.size()) return;

  std::string payload;
  for (auto& piece : a.pieces) payload += piece;
  assemblies_.erase(session.serial);
  accept(session, msgID, payload);
}

void Reports::accept(const ClientSession& session, const std::string& msgID, const std::string& payload) {
  // What can be told on the loop is: a refusal queues no write. An honest
  // client's resend whose confirmation was lost hears REPORT_RATE then and
  // is confirmed on its next try.
  double now = server_.now();
  Budget& budget = budgets_[session.serial];
  if (now - budget.windowStart >= 60) budget = {now, 0};
  if (budget.count >= kPerMinute) {
    server_.say(session, "ERR REPORT_RATE");
    return;
  }
  // The helped ID comes back from the server's own REPORTASK: anything but
  // an ID is forged (and would reach the log).
  std::optional<ServerStore::Report> report = decode(payload);
  int64_t row = 0;
  if (!report || !parseInt(report->ref, row) || !IdRegistry::isValid(report->helpedID)) {
    server_.say(session, "ERR REPORT_BAD");
    return;
  }
  Submitted submitted{session.serial, server_.registrant(session).id, msgID, row, std::move(*report)};
  // Counted while the store works on it: a burst of reports cannot queue
  // more writes than the budget before the first answer comes back.
  ++budget.count;
  // The checks and the write in one job: its answer says what was stored.
  if (!server_.writes().submitFor(
          session.serial,
          [submitted, received = int64_t(server_.wallNow())](ServerStore& store) {
            return write(store, submitted, received);
          },
          [this, submitted](const Stored& result) { written(submitted, result); })) {
    --budget.count;
    server_.say(session, "ERR REPORT_NOT_READY");
  }
}

Reports::Stored Reports::write(ServerStore& store, Submitted submitted, int64_t received) {
  // A resend whose confirmation was lost.
  // A database that cannot be read or written now may be later.
  Result<bool> again = store.hasReport(submitted.reporterID, submitted.msgID);
  if (!again) return {Stored::notReady, {}, again.error()};
  if (*again) return {Stored::again, {}, {}};
  Result<std::optional<int64_t>> measured = store.askedLength(submitted.row, submitted.reporterID);
  if (!measured) return {Stored::notReady, {}, measured.error()};
  if (!*measured) return {Stored::bad, {}, {}};
  ServerStore::Report& report = submitted.report;
  report.ref = std::to_string(submitted.row);
  report.measuredSeconds = **measured;
  report.reporterID = submitted.reporterID;
  report.msgID = submitted.msgID;
  if (auto added = store.addReport(report, received); !added) return {Stored::notReady, {}, added.error()};
  return {Stored::added, report.helpedID + " (" + report.ref + ")", {}};
}

void Reports::written(const Submitted& submitted, const Stored& result) {
  if (!result.error.empty()) {
    server_.log("Cannot store the session report from " + submitted.reporterID + ": " + result.error);
  }
  // The reporter may have left while the job ran.
  const ClientSession* session = server_.session(submitted.serial);
  if (result.outcome != Stored::added) {
    if (auto budget = budgets_.find(submitted.serial); budget != budgets_.end() && budget->second.count > 0)
      --budget->second.count;
  }
  if (result.outcome == Stored::added) {
    std::string line = "Session report from " + submitted.reporterID + " on " + result.what;
    if (session) {
      server_.log(*session, line);
    } else {
      server_.log(line);
    }
  }
  if (!session) return;
  switch (result.outcome) {
    case Stored::added:
    case Stored::again:
      server_.say(*session, "REPORT OK " + submitted.msgID);
      break;
    case Stored::bad:
      server_.say(*session, "ERR REPORT_BAD");
      break;
    case Stored::notReady:
      server_.say(*session, "ERR REPORT_NOT_READY");
      break;
  }
}

void Reports::expire(double now) {
  std::erase_if(assemblies_, [&](const auto& entry) { return now - entry.second.started >= kAssemblyLife; });
}

void Reports::sessionEnded(const ClientSession& session) {
  assemblies_.erase(session.serial);
  budgets_.erase(session.serial);
}

}  // namespace plimo
