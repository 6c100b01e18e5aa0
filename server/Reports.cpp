#include "server/Reports.h"

#include <cctype>
#include <charconv>

#include "server/IdRegistry.h"
#include "server/RelayServer.h"
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

Reports::Reports(RelayServer& server) : server_(server) {}

std::optional<ServerStore::Report> Reports::decode(const std::string& base64) {
  if (base64.size() > kMaxPieces * kMaxPiece) return std::nullopt;
  auto fields = ReportPayload::decode(base64);
  if (!fields) return std::nullopt;
  ServerStore::Report r;
  static_cast<ReportFields&>(r) = std::move(*fields);
  return r;
}

void Reports::report(ClientSession& session, const std::vector<std::string>& words) {
  // REPORT msgID i n piece
  const std::string& msgID = word(words, 1);
  int64_t index = 0, count = 0;
  if (words.size() != 5 || !isMsgID(msgID) || !parseInt(words[2], index) || !parseInt(words[3], count) ||
      count < 1 || count > int64_t(kMaxPieces) || index < 0 || index >= count || words[4].empty() ||
      words[4].size() > kMaxPiece) {
    server_.say(session, "ERR REPORT_BAD");
    return;
  }
  if (session.id.empty()) {
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
    a.started = server_.loop().now();
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

void Reports::accept(ClientSession& session, const std::string& msgID, const std::string& payload) {
  // A resend whose confirmation was lost.
  if (server_.store().hasReport(session.id, msgID)) {
    server_.say(session, "REPORT OK " + msgID);
    return;
  }
  double now = server_.loop().now();
  Budget& budget = budgets_[session.serial];
  if (now - budget.windowStart >= 60) budget = {now, 0};
  if (budget.count >= kPerMinute) {
    server_.say(session, "ERR REPORT_RATE");
    return;
  }
  auto report = decode(payload);
  int64_t row = 0;
  std::optional<int64_t> measured;
  if (report && parseInt(report->ref, row)) measured = server_.store().askedLength(row, session.id);
  if (!measured) {
    server_.say(session, "ERR REPORT_BAD");
    return;
  }
  report->ref = std::to_string(row);
  report->measuredSeconds = *measured;
  report->reporterID = session.id;
  report->msgID = msgID;
  if (!server_.store().addReport(*report, int64_t(server_.loop().wallNow()))) {
    // A database that cannot be written now may be writable later.
    server_.log("Cannot store the session report from " + session.id + ": " + server_.store().lastError());
    server_.say(session, "ERR REPORT_NOT_READY");
    return;
  }
  ++budget.count;
  server_.log(session, "Session report from " + session.id + " on " + report->helpedID + " (" + report->ref + ")");
  server_.say(session, "REPORT OK " + msgID);
}

void Reports::expire(double now) {
  std::erase_if(assemblies_, [&](const auto& entry) { return now - entry.second.started >= kAssemblyLife; });
}

void Reports::sessionEnded(const ClientSession& session) {
  assemblies_.erase(session.serial);
  budgets_.erase(session.serial);
}

}  // namespace plimo
