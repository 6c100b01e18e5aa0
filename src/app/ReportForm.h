#pragma once
// Where the helper fills in a session report: a window, or a terminal for a
// helper without windows. SessionReports opens one form at a time.
//
// Owner: whoever shows it (the windows, the headless program); it must
// outlive its use by SessionReports or be taken back with setForm(nullptr).
// The loop's thread only.

#include <functional>
#include <string>

#include "app/ReportDraft.h"

namespace plimo {

class ReportForm {
 public:
  enum class End {
    saved,    // with the payload of ReportDraft::save
    skipped,  // Skip
    closed,   // closed without an answer
  };
  using Done = std::function<void(End end, const std::string& payload)>;

  virtual ~ReportForm() = default;
  // Shows `draft` ("Plimo - Session report") and brings it to the front.
  // `done` fires once, on the loop's thread, when the form ends; it may fire
  // from inside open().
  virtual void open(ReportDraft draft, Done done) = 0;
};

}  // namespace plimo
