#pragma once
// The helped PC's chat with the helper: the lines so far and a field to
// write. Open, it counts as read.
//
// Owner: HostWindows, which calls refresh when the session may have changed.
// Main thread only.

#include <QWidget>

class QLineEdit;

namespace plimo {

class HostSession;
namespace ui {
class ChatView;
}

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
  ui::ChatView* lines_;
  QLineEdit* field_;
};

}  // namespace plimo
