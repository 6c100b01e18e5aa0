#include "ui/SmoothFit.h"

#include <cstring>

namespace plimo {

namespace {
// About a millisecond of scaling: done at once, on the window's thread, so a
// window or a dialog that changes shows in this paint. Typing and a blinking
// cursor stay far below it; a whole new picture goes to the worker.
constexpr qsizetype kAtOnce = 512 * 512;

void copyArea(const QImage& from, const QRect& area, QImage& to) {
  for (int y = area.top(); y <= area.bottom(); ++y)
    std::memcpy(to.scanLine(y) + size_t(area.left()) * 4, from.constScanLine(y) + size_t(area.left()) * 4,
                size_t(area.width()) * 4);
}
}  // namespace

SmoothFit::SmoothFit(std::function<void(const QRect&)> ready) : ready_(std::move(ready)) {}

SmoothFit::~SmoothFit() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  if (worker_.joinable()) worker_.join();
  // An answer still queued goes with answers_.
}

void SmoothFit::changed(const QRect& area) {
  if (scaler_) changed_ |= area;
}

const QImage* SmoothFit::fitted(const QImage& picture, QSize size, bool lasting) {
  if (size.isEmpty() || size.width() > picture.width() || size.height() > picture.height()) return nullptr;
  if (!scaler_ || scaler_->picture() != picture.size() || scaler_->fitted() != size) {
    scaler_ = std::make_shared<const AreaScaler>(picture.size(), size);
    kept_ = QImage(size, QImage::Format_RGB32);
    whole_ = false;
    changed_ = QRect(QPoint(), picture.size());
    ++generation_;
  }
  if (!busy_ && !changed_.isEmpty()) start(picture, lasting);
  return whole_ ? &kept_ : nullptr;
}

void SmoothFit::drop() {
  scaler_.reset();
  kept_ = copy_ = out_ = QImage();
  whole_ = false;
  changed_ = {};
  ++generation_;
}

void SmoothFit::start(const QImage& picture, bool lasting) {
  const QRect area = scaler_->fittedArea(changed_);
  const QRect all(QPoint(), kept_.size());
  changed_ = {};
  if (qsizetype(area.width()) * area.height() <= kAtOnce) {
    scaler_->scale(picture, area, kept_);
    whole_ = whole_ || area == all;
    return;
  }
  Job job{scaler_, picture, !lasting, area, std::move(out_), generation_};
  if (job.out.size() != kept_.size()) job.out = QImage(kept_.size(), QImage::Format_RGB32);
  if (job.copy) {
    // The canvas is written in place by the next update: the worker reads
    // its own copy of what it needs.
    if (copy_.size() != picture.size()) copy_ = QImage(picture.size(), QImage::Format_RGB32);
    copyArea(picture, scaler_->pictureArea(area), copy_);
    job.picture = std::move(copy_);
  }
  busy_ = true;
  {
    std::lock_guard lock(mutex_);
    job_ = std::make_unique<Job>(std::move(job));
    if (!worker_.joinable()) worker_ = std::thread([this] { work(); });
  }
  wake_.notify_one();
}

void SmoothFit::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || job_; });
    if (stop_) return;
    std::shared_ptr<Job> job = std::move(job_);
    lock.unlock();
    job->scaler->scale(job->picture, job->area, job->out);
    QMetaObject::invokeMethod(
        &answers_, [this, job] { done(std::move(*job)); }, Qt::QueuedConnection);
    job.reset();
    lock.lock();
  }
}

void SmoothFit::done(Job job) {
  busy_ = false;
  QRect repaint;
  if (job.generation == generation_) {
    if (job.area == QRect(QPoint(), kept_.size())) {
      std::swap(kept_, job.out);
      whole_ = true;
    } else {
      copyArea(job.out, job.area, kept_);
    }
    repaint = job.area;
  }
  if (scaler_) {
    out_ = std::move(job.out);
    if (job.copy) copy_ = std::move(job.picture);
    // What changed meanwhile waits for a paint to hand it to the worker.
    repaint |= scaler_->fittedArea(changed_);
  }
  if (!repaint.isEmpty()) ready_(repaint);
}

}  // namespace plimo
