#pragma once
// The settings the user edits: the server, the TCP ports, the profile the
// helped PC sees, hiding the wallpaper, and how a helper's Ctrl is played.
// Save hands them to the model, which restarts the server link when needed.
//
// Owner: the windowed program. Main thread only.

#include <QWidget>

class QCheckBox;
class QLineEdit;

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

  AppModel& model_;
  QLineEdit *host_, *port_, *tcpPorts_, *name_, *company_, *email_, *phone_, *picture_;
  QCheckBox *hideWallpaper_, *helperCtrl_;
};

}  // namespace plimo
