#pragma once
// The question to the person at the helped PC: who wants to help, the check
// number to compare, and Deny, View only or Allow control. No answer within
// 30 s is a Deny; only the first answer counts, and it closes the panel.
//
// Owner: HostWindows. Main thread only; the countdown runs on `loop`.

#include <QWidget>

#include "app/ConsentCountdown.h"

class QLabel;
class QPushButton;

namespace plimo {

class ConsentPanel final : public QWidget {
 public:
  // `desktopAsks`: the desktop asks the person again in its own dialog (a
  // Wayland desktop's portal), which the panel says beforehand.
  ConsentPanel(EventLoop& loop, const HostSession& session, HostSession::AnswerFn answer, bool desktopAsks = false);

  void answer(HostSession::Answer answer);
  int secondsLeft() const { return countdown_.left(); }
  bool open() const { return countdown_.open(); }
  QPushButton* button(HostSession::Answer answer) const;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  ConsentCountdown countdown_;
  QLabel* countdownLine_;
  QPushButton* deny_;
  QPushButton* viewOnly_;
  QPushButton* control_;
  QPoint dragFrom_;
};

}  // namespace plimo
