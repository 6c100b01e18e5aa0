#include "app/TerminalReportForm.h"

#include "core/Text.h"

namespace plimo {

namespace {

std::string lower(std::string_view text) { return asciiLower(trimWhitespace(text)); }

}  // namespace

TerminalReportForm::TerminalReportForm(std::function<void(const std::string&)> write) : write_(std::move(write)) {}

void TerminalReportForm::open(ReportDraft draft, Done done) {
  // One form at a time: one still open is closed unanswered.
  if (asking()) finish(End::closed, "");
  write_("\n" + std::string(ReportDraft::kTitle) + ": " + std::string(ReportDraft::kHeading) + "\n" +
         std::string(ReportDraft::kExplanation) + "\n" + printable(draft.summary()) + "\n" +
         "Type skip at any question to skip this report.\n");
  draft_ = std::move(draft);
  done_ = std::move(done);
  step_ = Step::customer;
  prompt();
}

void TerminalReportForm::prompt() {
  switch (step_) {
    case Step::customer: return write_("Customer: ");
    case Step::contact: return write_("Contact: ");
    case Step::billable: return write_(std::string("Billable (y/n) [") + (draft_->billable ? "y" : "n") + "]: ");
    case Step::minutes: return write_("Minutes [" + draft_->minutes + "]: ");
    case Step::description: return write_("What was done: ");
  }
}

void TerminalReportForm::typed(std::string_view line) {
  if (!asking()) return;
  std::string answer(trimWhitespace(line));
  if (lower(answer) == "skip") return finish(End::skipped, "");
  ReportDraft& d = *draft_;
  switch (step_) {
    case Step::customer:
      d.customer = answer;
      step_ = Step::contact;
      break;
    case Step::contact:
      d.contact = answer;
      step_ = Step::billable;
      break;
    case Step::billable:
      if (std::string word = lower(answer); word == "y" || word == "yes") {
        d.billable = true;
      } else if (word == "n" || word == "no") {
        d.billable = false;
      } else if (!word.empty()) {
        write_("Type y or n.\n");
        return prompt();
      }
      step_ = Step::minutes;
      break;
    case Step::minutes:
      if (!answer.empty()) d.minutes = answer;
      step_ = Step::description;
      break;
    case Step::description: {
      d.description = answer;
      auto saved = d.save();
      if (!saved.payload.empty()) return finish(End::saved, saved.payload);
      write_(saved.refusal + "\n");
      step_ = saved.refusal == ReportDraft::kBadMinutes ? Step::minutes
              : saved.refusal == ReportDraft::kTooLong ? Step::description
                                                        : Step::customer;
      break;
    }
  }
  prompt();
}

void TerminalReportForm::finish(End end, const std::string& payload) {
  write_(end == End::saved ? "Saved; it goes to the server.\n" : end == End::skipped ? "Skipped.\n" : "\n");
  draft_.reset();
  auto done = std::move(done_);
  done_ = nullptr;
  if (done) done(end, payload);
}

}  // namespace plimo
