#pragma once
// The session report form's rules, without any window: what it starts with,
// the minutes it proposes, and what Save does. The Qt window and the
// terminal form both edit a draft, a plain value they own, and call save().
//
// A value; any thread.

#include <cstdint>
#include <string>
#include <string_view>

namespace plimo {

// The server's request for a report on one finished session.
struct ReportAsk {
  std::string ref;  // the server's reference of the session
  int64_t started = 0;  // seconds since 1970
  int64_t ended = 0;
  int64_t seconds = 0;  // the session's length
  std::string helpedID;

  bool operator==(const ReportAsk&) const = default;
};

struct ReportDraft {
  static constexpr std::string_view kTitle = "Plimo - Session report";
  static constexpr std::string_view kHeading = "Bill this session";
  static constexpr std::string_view kExplanation =
      "What did you do, and for whom? It is saved on your company's Plimo server, for the usage report and the "
      "invoice.";
  static constexpr std::string_view kNeedsSomething =
      "Fill in at least the customer or what was done (or click Skip).";
  static constexpr std::string_view kTooLong =
      "The description is too long for the server. Please make it a little shorter.";
  static constexpr std::string_view kBadMinutes = "Enter the minutes as a whole number.";

  ReportDraft(ReportAsk ask, std::string pcName, std::string helperName);

  // 15 for each started quarter hour of a session of `seconds`, at least 15.
  static int64_t proposedMinutes(int64_t seconds);

  // What Save gives: the payload to queue, or the text the form shows while
  // it stays open.
  struct Saved {
    std::string payload;  // empty when refused
    std::string refusal;
  };
  Saved save() const;

  // "Session with <ID> (<PC>), started <local time>, <n> min."
  std::string summary() const;

  // The server's request, as it came.
  ReportAsk ask;
  // The fields the helper edits.
  std::string pcName;
  std::string helperName;
  std::string customer;
  std::string contact;
  bool billable = false;
  std::string minutes;  // as typed
  std::string description;
};

}  // namespace plimo
