#include "app/ReportDraft.h"

#include "app/AppLog.h"
#include "core/PlimoID.h"
#include "core/Text.h"
#include "protocol/wire/ReportPayload.h"

namespace plimo {

namespace {

// A day of minutes and more is no one session's bill; it is a typing slip.
constexpr int64_t kMaxMinutes = 100000;

}  // namespace

ReportDraft::ReportDraft(ReportAsk request, std::string pc, std::string helper)
    : ask(std::move(request)),
      pcName(std::move(pc)),
      helperName(std::move(helper)),
      minutes(std::to_string(proposedMinutes(ask.seconds))) {}

int64_t ReportDraft::proposedMinutes(int64_t seconds) {
  int64_t whole = seconds > 0 ? (seconds + 59) / 60 : 0;
  int64_t quarters = (whole + 14) / 15;
  return quarters < 2 ? 15 : quarters * 15;
}

std::string ReportDraft::summary() const {
  std::string pc = pcName.empty() ? "" : " (" + pcName + ")";
  return "Session with " + formatPlimoID(ask.helpedID) + pc + ", started " +
         AppLog::formatLocalTime(double(ask.started)) + ", " + std::to_string((ask.seconds + 59) / 60) + " min.";
}

ReportDraft::Saved ReportDraft::save() const {
  auto blank = [](const std::string& text) { return trimWhitespace(text).empty(); };
  if (blank(customer) && blank(description)) return {"", std::string(kNeedsSomething)};
  auto typed = parseDecimal(trimWhitespace(minutes));
  if (!typed || *typed < 0 || *typed > kMaxMinutes) return {"", std::string(kBadMinutes)};
  ReportFields f;
  f.ref = ask.ref;
  f.started = ask.started;
  f.ended = ask.ended;
  f.seconds = ask.seconds;
  f.helpedID = ask.helpedID;
  f.pcName = pcName;
  f.helperName = helperName;
  f.customer = customer;
  f.contact = contact;
  f.billable = billable;
  f.minutes = *typed;
  f.description = description;
  std::string payload = ReportPayload::encode(f);
  if (payload.size() > ReportPayload::kMaxPayload) return {"", std::string(kTooLong)};
  return {payload, ""};
}

}  // namespace plimo
