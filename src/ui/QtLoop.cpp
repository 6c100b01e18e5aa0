#include "ui/QtLoop.h"

#include <QMetaObject>
#include <QPointer>
#include <QTimer>
#include <chrono>

namespace plimo {

namespace {

class QtTimer final : public TimerHandle {
 public:
  explicit QtTimer(QTimer* timer) : timer_(timer) {}
  // The callback may drop its own handle: the timer goes once its signal has
  // returned, and never fires again.
  ~QtTimer() override {
    if (!timer_) return;
    timer_->stop();
    timer_->disconnect();
    timer_->deleteLater();
  }

 private:
  QPointer<QTimer> timer_;
};

}  // namespace

QtLoop::QtLoop() = default;
QtLoop::~QtLoop() = default;

double QtLoop::now() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double QtLoop::wallNow() const {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

void QtLoop::post(std::function<void()> fn) {
  QMetaObject::invokeMethod(&context_, [fn = std::move(fn)] { fn(); }, Qt::QueuedConnection);
}

Timer QtLoop::after(double seconds, std::function<void()> fn) { return start(seconds, true, std::move(fn)); }

Timer QtLoop::every(double seconds, std::function<void()> fn) { return start(seconds, false, std::move(fn)); }

Timer QtLoop::start(double seconds, bool once, std::function<void()> fn) {
  auto* timer = new QTimer(&context_);
  // The capture and channel timers run every 8 to 10 ms: coarse timers would
  // let them slip by up to 5 %.
  timer->setTimerType(Qt::PreciseTimer);
  timer->setSingleShot(once);
  QObject::connect(timer, &QTimer::timeout, [fn = std::move(fn)] {
    auto keep = fn;  // the handle may go inside the call
    keep();
  });
  timer->start(std::chrono::milliseconds(std::max<int64_t>(once ? 0 : 1, int64_t(seconds * 1000 + 0.5))));
  return std::make_unique<QtTimer>(timer);
}

}  // namespace plimo
