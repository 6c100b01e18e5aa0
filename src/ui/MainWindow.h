#pragma once
// The main window: this PC's ID, the server's state, the partner field with
// Connect/Disconnect, the session's state and check number, the recent
// partners, and the keep-ID and unattended switches. Everything shown is
// the model's; every action is a model call.
//
// Owner: the windowed program. Main thread only.

#include <QMainWindow>
#include <vector>

#include "core/Observable.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QWidget;

namespace plimo {

class AppModel;
namespace ui {
class Light;
}

class MainWindow final : public QMainWindow {
 public:
  // `settings`, `help` and `connectionTest` are opened from the menus.
  MainWindow(AppModel& model, QWidget* settings, QWidget* help, QWidget* connectionTest);
  ~MainWindow() override;

  QLineEdit* partnerField() const { return partner_; }
  QPushButton* connectButton() const { return connect_; }
  QListWidget* recentList() const { return recent_; }

 private:
  void build(QWidget* settings, QWidget* help, QWidget* connectionTest);
  void watch();
  void showRecent();
  void recentMenu(const QPoint& at);

  AppModel& model_;
  QLabel* id_;
  ui::Light* serverLight_;
  QLabel* serverText_;
  QWidget* serverRow_;
  QLineEdit* server_;
  QLineEdit* partner_;
  QPushButton* connect_;
  QLabel* notice_;
  ui::Light* sessionLight_;
  QLabel* sessionTitle_;
  QLabel* sessionDetail_;
  QLabel* check_;
  QListWidget* recent_;
  QCheckBox* keepID_;
  QCheckBox* unattended_;
  std::vector<Subscription> watching_;
};

}  // namespace plimo
