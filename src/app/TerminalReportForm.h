#pragma once
// The session report form on a terminal, for a helper without windows: the
// same fields and rules as the window (ReportDraft), asked one after another.
// "skip" at any question is the Skip button; an empty answer keeps what is
// shown in brackets.
//
// Owner: the headless program; the loop's thread only. It writes through
// `write` and is told each typed line by `typed` (TerminalLines reads them).

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/ReportForm.h"

namespace plimo {

class TerminalReportForm : public ReportForm {
 public:
  explicit TerminalReportForm(std::function<void(const std::string&)> write);

  void open(ReportDraft draft, Done done) override;
  void typed(std::string_view line);
  bool asking() const { return draft_.has_value(); }

 private:
  enum class Step { customer, contact, billable, minutes, description };
  void prompt();
  void finish(End end, const std::string& payload);

  std::function<void(const std::string&)> write_;
  std::optional<ReportDraft> draft_;
  Done done_;
  Step step_ = Step::customer;
};

}  // namespace plimo
