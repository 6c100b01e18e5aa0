#pragma once
// A thin coloured frame around one shared screen, so the person at the
// helped PC always sees that the screen is shared. Only the frame exists as
// a window (an X shape), so it never covers or catches anything inside.
//
// Owner: HostWindows. Main thread only.

#include <QWidget>

class QScreen;

namespace plimo {

class GlowFrame final : public QWidget {
 public:
  static constexpr int kLine = 3;
  static constexpr int kRadius = 12;

  explicit GlowFrame(QScreen& screen);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace plimo
