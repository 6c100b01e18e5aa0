#include "viewer/VideoDecodeThread.h"

#include "core/Failure.h"
#include "core/WorkClock.h"

namespace plimo {

VideoDecodeThread::VideoDecodeThread(EventLoop& loop, bool threaded, std::function<void(Decoded)> decoded)
    : loop_(loop), threaded_(threaded), decoded_(std::move(decoded)) {}

VideoDecodeThread::~VideoDecodeThread() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

bool VideoDecodeThread::decode(Frame frame, ByteView bytes, std::unique_ptr<VideoDecoder> fresh) {
  Job job{frame, Bytes(bytes.begin(), bytes.end()), std::move(fresh)};
  if (!threaded_) {
    decoded_(run(job));
    return true;
  }
  {
    std::lock_guard lock(mutex_);
    if (jobs_.size() >= kMaxWaiting) {
      jobs_.clear();
      dropDecoder_ = true;
      return false;
    }
    jobs_.push_back(std::move(job));
    if (!thread_.joinable()) thread_ = std::thread([this] { work(); });
  }
  wake_.notify_one();
  return true;
}

VideoDecodeThread::Decoded VideoDecodeThread::run(Job& job) {
  Decoded result;
  result.frame = job.frame;
  if (job.fresh) decoder_ = std::move(job.fresh);
  if (!decoder_) return result;
  const double began = workSeconds();
  try {
    result.picture = decoder_->decode(job.bytes);
    result.hardware = decoder_->hardware();
  } catch (const Failure& failure) {
    result.failure = failure.text();
    decoder_.reset();
  }
  result.seconds = workSeconds() - began;
  return result;
}

void VideoDecodeThread::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
    if (stop_) return;
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    if (dropDecoder_) decoder_.reset();
    dropDecoder_ = false;
    lock.unlock();
    loop_.post([weak = guard_.weak(), result = run(job)]() mutable {
      if (auto self = weak.lock()) self->decoded_(std::move(result));
    });
    lock.lock();
  }
}

}  // namespace plimo
