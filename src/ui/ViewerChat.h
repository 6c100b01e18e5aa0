#pragma once
// The helper's chat panel beside the picture: the session's notices,
// centred, above the chat lines, and a field to write in.
//
// Owner: ViewerWindow; the session outlives the panel. Main thread only.

#include <QWidget>
#include <vector>

#include "core/Observable.h"

class QLineEdit;

namespace plimo {

class ViewerSession;
namespace ui {
class ChatView;
}

class ViewerChat final : public QWidget {
 public:
  static constexpr int kWidth = 300;

  explicit ViewerChat(ViewerSession& session);
  ~ViewerChat() override;

 private:
  void send();

  ViewerSession& session_;
  ui::ChatView* lines_;
  QLineEdit* field_;
  std::vector<Subscription> watching_;
};

}  // namespace plimo
