#include "ui/ConnectionTestWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "app/AppModel.h"
#include "ui/Widgets.h"

namespace plimo {

namespace {

using Finding = ConnectionReport::Finding;

const char* levelColour(Finding::Level level) {
  switch (level) {
    case Finding::Level::ok: return "#1e8e3e";
    case Finding::Level::warning: return "#e37400";
    case Finding::Level::problem: return "#d93025";
  }
  return "#6b6f76";
}

// The level's word, then the title in bold over the detail.
QWidget* findingRow(const Finding& finding) {
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 4, 0, 4);
  QLabel* level = ui::plainLabel(ui::text(std::string(ConnectionReport::levelWord(finding.level))));
  level->setObjectName("findingLevel");
  level->setStyleSheet(QString("color: %1; font-weight: bold;").arg(levelColour(finding.level)));
  level->setMinimumWidth(72);
  level->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  auto* words = new QVBoxLayout;
  QLabel* title = ui::plainLabel(ui::text(finding.title));
  title->setObjectName("findingTitle");
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  title->setWordWrap(true);
  QLabel* detail = ui::plainLabel(ui::text(finding.detail));
  detail->setObjectName("findingDetail");
  detail->setWordWrap(true);
  words->addWidget(title);
  words->addWidget(detail);
  layout->addWidget(level);
  layout->addLayout(words, 1);
  return row;
}

}  // namespace

ConnectionTestWindow::ConnectionTestWindow(AppModel& model) : model_(model) {
  setObjectName("connection-test");
  setWindowTitle("Connection test");
  auto* layout = new QVBoxLayout(this);
  auto* scroll = new QScrollArea;
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  findings_ = new QWidget;
  findings_->setObjectName("findings");
  new QVBoxLayout(findings_);
  scroll->setWidget(findings_);
  layout->addWidget(scroll, 3);
  report_ = new QPlainTextEdit;
  report_->setReadOnly(true);
  report_->setPlaceholderText("Run the test to see how this PC reaches the server and other PCs.");
  QFont mono("monospace");
  mono.setStyleHint(QFont::Monospace);
  report_->setFont(mono);
  layout->addWidget(report_, 2);
  auto* buttons = new QHBoxLayout;
  run_ = new QPushButton("Run test");
  auto* copy = new QPushButton("Copy report");
  buttons->addWidget(run_);
  buttons->addStretch();
  buttons->addWidget(copy);
  layout->addLayout(buttons);
  connect(run_, &QPushButton::clicked, [this] { run(); });
  connect(copy, &QPushButton::clicked, [this] { QApplication::clipboard()->setText(report_->toPlainText()); });
  showFindings({});
  resize(640, 600);
}

void ConnectionTestWindow::run() {
  run_->setEnabled(false);
  showFindings({});
  report_->setPlainText("Testing...");
  model_.runConnectionTest(
      guard_.weakly<const ConnectionReport::Result&>([](ConnectionTestWindow& self, const ConnectionReport::Result& r) {
        self.showFindings(r.findings);
        self.report_->setPlainText(ui::text(r.text));
        self.run_->setEnabled(true);
      }));
}

void ConnectionTestWindow::showFindings(const std::vector<Finding>& findings) {
  QLayout* rows = findings_->layout();
  while (QLayoutItem* item = rows->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  for (const Finding& finding : findings) rows->addWidget(findingRow(finding));
  static_cast<QVBoxLayout*>(rows)->addStretch();
}

QString ConnectionTestWindow::report() const { return report_->toPlainText(); }

}  // namespace plimo
