#include "ui/ConnectionTestWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/AppModel.h"
#include "ui/Widgets.h"

namespace plimo {

ConnectionTestWindow::ConnectionTestWindow(AppModel& model) : model_(model) {
  setObjectName("connection-test");
  setWindowTitle("Connection test");
  auto* layout = new QVBoxLayout(this);
  report_ = new QPlainTextEdit;
  report_->setReadOnly(true);
  report_->setPlaceholderText("Run the test to see how this PC reaches the server and other PCs.");
  QFont mono("monospace");
  mono.setStyleHint(QFont::Monospace);
  report_->setFont(mono);
  layout->addWidget(report_, 1);
  auto* buttons = new QHBoxLayout;
  run_ = new QPushButton("Run test");
  auto* copy = new QPushButton("Copy report");
  buttons->addWidget(run_);
  buttons->addStretch();
  buttons->addWidget(copy);
  layout->addLayout(buttons);
  connect(run_, &QPushButton::clicked, [this] { run(); });
  connect(copy, &QPushButton::clicked, [this] { QApplication::clipboard()->setText(report_->toPlainText()); });
  resize(640, 520);
}

void ConnectionTestWindow::run() {
  run_->setEnabled(false);
  report_->setPlainText("Testing...");
  model_.runConnectionTest(
      guard_.weakly<const ConnectionReport::Result&>([](ConnectionTestWindow& self, const ConnectionReport::Result& r) {
        self.report_->setPlainText(ui::text(r.text));
        self.run_->setEnabled(true);
      }));
}

QString ConnectionTestWindow::report() const { return report_->toPlainText(); }

}  // namespace plimo
