#pragma once
// The bar at the top centre of the helped PC's screen while a helper is in:
// who helps, what they may do, unread chat, Pause/Continue and Stop.
//
// Owner: HostWindows, which calls refresh when the session may have changed.
// Main thread only.

#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;

namespace plimo {

class HostSession;

class HostBar final : public QWidget {
 public:
  HostBar(HostSession& session, std::function<void()> openChat, std::function<void()> stop);
  void refresh();
  QString status() const;

 private:
  HostSession& session_;
  QLabel* title_;
  QLabel* status_;
  QPushButton* chat_;
  QPushButton* pause_;
};

}  // namespace plimo
