#pragma once
// The helped PC's chat with the helper: the lines so far and a field to
// write. Open, it counts as read.
//
// Owner: HostWindows, which calls refresh when the session may have changed.
// Main thread only.

#include <QWidget>

class QLineEdit;
class QTextBrowser;

namespace plimo {

class HostSession;

class HostChat final : public QWidget {
 public:
  explicit HostChat(HostSession& session);
  void refresh();
  void send();
  QLineEdit* field() const { return field_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  HostSession& session_;
  QTextBrowser* lines_;
  QLineEdit* field_;
  size_t shown_ = size_t(-1);
};

}  // namespace plimo
