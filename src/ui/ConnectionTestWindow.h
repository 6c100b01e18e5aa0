#pragma once
// "Connection test": runs the model's connection test and shows the report,
// ready to copy for support.
//
// Owner: the windowed program. Main thread only.

#include <QWidget>

#include "core/Weakly.h"

class QPlainTextEdit;
class QPushButton;

namespace plimo {

class AppModel;

class ConnectionTestWindow final : public QWidget {
 public:
  explicit ConnectionTestWindow(AppModel& model);
  void run();
  QString report() const;

 private:
  AppModel& model_;
  QPlainTextEdit* report_;
  QPushButton* run_;
  LifeGuard<ConnectionTestWindow> guard_{this};
};

}  // namespace plimo
