#pragma once
// "Connection test": runs the model's connection test and shows its
// findings, each with its level, title and detail, above the plain report,
// ready to copy for support.
//
// Owner: the windowed program. Main thread only.

#include <QWidget>
#include <vector>

#include "core/Weakly.h"
#include "support/ConnectionReport.h"

class QPlainTextEdit;
class QPushButton;
class QVBoxLayout;

namespace plimo {

class AppModel;

class ConnectionTestWindow final : public QWidget {
 public:
  explicit ConnectionTestWindow(AppModel& model);
  void run();
  QString report() const;

 private:
  void showFindings(const std::vector<ConnectionReport::Finding>& findings);

  AppModel& model_;
  QWidget* findings_;
  QPlainTextEdit* report_;
  QPushButton* run_;
  LifeGuard<ConnectionTestWindow> guard_{this};
};

}  // namespace plimo
