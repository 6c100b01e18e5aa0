#pragma once
// The session report form as a window: the draft's fields, Save and Skip. A
// refused Save shows its text in the window, which stays open; closing the
// window is an end without an answer.
//
// Owner: the windowed program; taken back from SessionReports with
// setForm(nullptr) before it goes. Going while open ends nothing: the ask is
// kept for the next start. Main thread only.

#include <QWidget>
#include <optional>

#include "app/ReportForm.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace plimo {

class ReportWindow final : public QWidget, public ReportForm {
 public:
  ReportWindow();

  void open(ReportDraft draft, Done done) override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void save();
  void finish(End end, const std::string& payload);

  std::optional<ReportDraft> draft_;
  Done done_;
  QLabel* session_;
  QLineEdit *helper_, *pc_, *customer_, *contact_, *minutes_;
  QCheckBox* billable_;
  QPlainTextEdit* description_;
  QLabel* refusal_;
};

}  // namespace plimo
