#pragma once
// The main loop of the windowed application: Qt's event loop, so that the
// model's timers and the windows share one thread.

#include <QObject>

#include "core/EventLoop.h"

namespace plimo {

class QtLoop final : public EventLoop {
 public:
  // Needs a QCoreApplication; runs on the thread that creates it.
  QtLoop();
  ~QtLoop() override;

  double now() const override;
  double wallNow() const override;
  // Safe from any thread: a queued call on the loop's thread.
  void post(std::function<void()> fn) override;
  Timer after(double seconds, std::function<void()> fn) override;
  Timer every(double seconds, std::function<void()> fn) override;

 private:
  Timer start(double seconds, bool once, std::function<void()> fn);
  QObject context_;
};

}  // namespace plimo
