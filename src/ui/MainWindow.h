#pragma once
// The main window: this PC's ID, the server's state, the partner field with
// Connect/Disconnect, the session's state and check number (and, when it
// failed, the way to the connection test), the recent partners, the
// keep-ID and unattended switches, and what this PC lacks to be shared or
// controlled, looked at again whenever the window comes to the front.
// Everything shown is the model's; every action is a model call.
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
class ConnectionTestWindow;
namespace ui {
class Light;
}

class MainWindow final : public QMainWindow {
 public:
  // `settings`, `help` and `connectionTest` are opened from the menus; the
  // connection test also from a failed session.
  MainWindow(AppModel& model, QWidget* settings, QWidget* help, ConnectionTestWindow* connectionTest);
  ~MainWindow() override;

  QLineEdit* partnerField() const { return partner_; }
  QPushButton* connectButton() const { return connect_; }
  QListWidget* recentList() const { return recent_; }

 protected:
  bool event(QEvent* event) override;

 private:
  void build(QWidget* settings, QWidget* help, ConnectionTestWindow* connectionTest);
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
  QLabel* fingerprints_;
  QPushButton* whyNot_;
  QLabel* noScreen_;
  QLabel* noControl_;
  QListWidget* recent_;
  QCheckBox* keepID_;
  QCheckBox* unattended_;
  std::vector<Subscription> watching_;
};

}  // namespace plimo
