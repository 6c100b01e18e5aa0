#pragma once
// The settings the user edits: the server, the TCP ports, the profile the
// helped PC sees, hiding the wallpaper, and whether the Super key goes out
// as Ctrl. Save hands them to the model, which restarts the server link
// when needed. Beside them, what the server link knows: a test of the
// server, the pinned server key's fingerprint (which can be forgotten,
// after a warning) and whether the server keeps this PC's ID.
//
// Owner: the windowed program. Main thread only.

#include <QWidget>
#include <vector>

#include "core/Observable.h"
#include "core/Weakly.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace plimo {

class AppModel;

class SettingsWindow final : public QWidget {
 public:
  explicit SettingsWindow(AppModel& model);
  void save();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void load();
  void showLink();
  void testServer();
  void forgetServerKey();

  AppModel& model_;
  QLineEdit *host_, *port_, *tcpPorts_, *name_, *company_, *email_, *phone_, *picture_;
  QCheckBox *hideWallpaper_, *superAsCtrl_, *clipboard_;
  QPushButton* test_;
  QLabel *testAnswer_, *fingerprint_, *idState_;
  std::vector<Subscription> watching_;
  LifeGuard<SettingsWindow> guard_{this};
};

}  // namespace plimo
