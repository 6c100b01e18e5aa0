#include "ui/ReportWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "ui/Widgets.h"

namespace plimo {

ReportWindow::ReportWindow() {
  setObjectName("report");
  setWindowTitle(ui::text(std::string(ReportDraft::kTitle)));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(ui::bigLabel(ui::text(std::string(ReportDraft::kHeading)), 16));
  auto* explanation = ui::plainLabel(ui::text(std::string(ReportDraft::kExplanation)));
  explanation->setWordWrap(true);
  layout->addWidget(explanation);
  session_ = ui::plainLabel();
  layout->addWidget(session_);
  auto* form = new QFormLayout;
  auto field = [&](const char* label, const char* name) {
    auto* edit = new QLineEdit;
    edit->setObjectName(name);
    form->addRow(label, edit);
    return edit;
  };
  helper_ = field("Helper", "helper");
  pc_ = field("PC", "pc");
  customer_ = field("Customer", "customer");
  contact_ = field("Contact", "contact");
  billable_ = new QCheckBox("Billable");
  form->addRow(billable_);
  minutes_ = field("Minutes", "minutes");
  description_ = new QPlainTextEdit;
  description_->setObjectName("description");
  form->addRow("What was done", description_);
  layout->addLayout(form, 1);
  refusal_ = ui::plainLabel();
  refusal_->setObjectName("refusal");
  refusal_->setWordWrap(true);
  refusal_->setStyleSheet("color: #d93025;");
  layout->addWidget(refusal_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  auto* skip = new QPushButton("Skip");
  skip->setObjectName("skip");
  auto* saveButton = new QPushButton("Save");
  saveButton->setObjectName("save");
  saveButton->setDefault(true);
  buttons->addWidget(skip);
  buttons->addWidget(saveButton);
  layout->addLayout(buttons);
  connect(skip, &QPushButton::clicked, [this] { finish(End::skipped, ""); });
  connect(saveButton, &QPushButton::clicked, [this] { save(); });
  resize(560, 620);
}

void ReportWindow::open(ReportDraft draft, Done done) {
  // One form at a time: one still open ends unanswered.
  if (draft_) finish(End::closed, "");
  session_->setText(ui::text(draft.summary()));
  helper_->setText(ui::text(draft.helperName));
  pc_->setText(ui::text(draft.pcName));
  customer_->setText(ui::text(draft.customer));
  contact_->setText(ui::text(draft.contact));
  billable_->setChecked(draft.billable);
  minutes_->setText(ui::text(draft.minutes));
  description_->setPlainText(ui::text(draft.description));
  refusal_->clear();
  draft_ = std::move(draft);
  done_ = std::move(done);
  if (QScreen* screen = this->screen()) move(screen->availableGeometry().center() - rect().center());
  show();
  raise();
  activateWindow();
  customer_->setFocus();
}

void ReportWindow::save() {
  if (!draft_) return;
  ReportDraft& d = *draft_;
  d.helperName = helper_->text().toStdString();
  d.pcName = pc_->text().toStdString();
  d.customer = customer_->text().toStdString();
  d.contact = contact_->text().toStdString();
  d.billable = billable_->isChecked();
  d.minutes = minutes_->text().toStdString();
  d.description = description_->toPlainText().toStdString();
  auto saved = d.save();
  if (!saved.payload.empty()) return finish(End::saved, saved.payload);
  refusal_->setText(ui::text(saved.refusal));
}

void ReportWindow::closeEvent(QCloseEvent* event) {
  if (draft_) finish(End::closed, "");
  QWidget::closeEvent(event);
}

void ReportWindow::finish(End end, const std::string& payload) {
  // The window goes before `done` runs, which may open the next form.
  draft_.reset();
  auto done = std::move(done_);
  done_ = nullptr;
  hide();
  if (done) done(end, payload);
}

}  // namespace plimo
