#pragma once
// The helper's view's smoothed picture: the remote screen shrunk by area
// averaging (AreaScaler) into a kept fitted picture, where it changed only.
// A small change is scaled at once; a large one (a whole new picture, a new
// window size) on a worker thread, one at a time: what changes meanwhile is
// gathered and scaled from the newest picture when the worker is free, so
// the window never waits and the newest picture wins.
//
// Owner: ScreenView. Main thread only; `ready` runs there.

#include <QImage>
#include <QObject>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "ui/AreaScaler.h"

namespace plimo {

class SmoothFit {
 public:
  // `ready(area)`: `area` of the fitted picture is new, or waits for a paint
  // to be brought up to date.
  explicit SmoothFit(std::function<void(const QRect&)> ready);
  ~SmoothFit();
  SmoothFit(const SmoothFit&) = delete;
  SmoothFit& operator=(const SmoothFit&) = delete;

  // `area` of the picture changed.
  void changed(const QRect& area);
  // The kept picture of `picture` fitted to `size`, brought up to date as far
  // as it can be now; none while it has not been whole at that size yet (or
  // `size` does not shrink). A `lasting` picture never changes, so the worker
  // reads it in place; of any other the worker gets a copy of what it reads.
  const QImage* fitted(const QImage& picture, QSize size, bool lasting);
  // Lets the kept picture go.
  void drop();

 private:
  struct Job {
    std::shared_ptr<const AreaScaler> scaler;
    QImage picture;  // the lasting picture, or the copy
    bool copy = false;
    QRect area;
    QImage out;
    uint64_t generation = 0;
  };
  void start(const QImage& picture, bool lasting);
  void done(Job job);
  void work();

  std::function<void(const QRect&)> ready_;
  std::shared_ptr<const AreaScaler> scaler_;
  QImage kept_;
  bool whole_ = false;
  QRect changed_;            // of the picture, not yet scaled nor handed to the worker
  uint64_t generation_ = 0;  // a new scaler's: older answers are dropped
  bool busy_ = false;
  QImage copy_, out_;  // the worker's buffers, kept between jobs

  QObject answers_;  // the worker's answers come through its queue
  std::mutex mutex_;
  std::condition_variable wake_;
  std::unique_ptr<Job> job_;
  bool stop_ = false;
  std::thread worker_;  // started with the first job
};

}  // namespace plimo
