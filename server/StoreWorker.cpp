#include "server/StoreWorker.h"

namespace plimo {

StoreWorker::StoreWorker(EventLoop& loop, ServerStore& store, Mode mode, Log log)
    : loop_(loop), store_(store), mode_(mode), log_(std::move(log)) {
  if (mode_ != Mode::threaded) return;
  std::weak_ptr<StoreWorker> alive = guard_.weak();
  store_.waitForLocksWithoutLimit([this, alive] {
    loop_.post([this, alive] {
      if (!alive.expired()) log_("The database is held by another process; the server's writes wait for it");
    });
  });
  thread_ = std::thread([this] { run(); });
}

StoreWorker::~StoreWorker() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void StoreWorker::push(Job job) {
  if (mode_ == Mode::inlined) {
    job(store_)();
    return;
  }
  if (++queued_ < kMaxQueued / 2) {
    overflowTold_ = false;
  } else if (queued_ >= kMaxQueued && !overflowTold_) {
    overflowTold_ = true;
    log_("The database writes are " + std::to_string(kMaxQueued) +
         " behind; the usage records wait in memory until the database is free");
  }
  std::weak_ptr<StoreWorker> alive = guard_.weak();
  if (mode_ == Mode::deferred) {
    loop_.post([this, alive, job = std::move(job)]() mutable {
      if (alive.expired()) return;
      --queued_;
      job(store_)();
    });
    return;
  }
  bool wasIdle;
  {
    std::lock_guard lock(mutex_);
    wasIdle = jobs_.empty();
    jobs_.push_back(std::move(job));
  }
  // A thread with jobs waiting is awake already.
  if (wasIdle) wake_.notify_one();
}

void StoreWorker::run() {
  std::weak_ptr<StoreWorker> alive = guard_.weak();
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      // Stopping runs what is queued first: those are billing rows and pins.
      if (jobs_.empty()) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
      --queued_;
    }
    std::function<void()> done = job(store_);
    loop_.post([alive, done = std::move(done)] {
      if (!alive.expired()) done();
    });
  }
}

void StoreWorker::finished(uint64_t client) {
  auto it = clientJobs_.find(client);
  if (it != clientJobs_.end() && --it->second == 0) clientJobs_.erase(it);
}

std::shared_ptr<const int64_t> StoreWorker::startUsage(const std::string& viewerID, const std::string& hostID,
                                                      const std::string& reportedBy, int64_t started) {
  auto row = std::make_shared<int64_t>(0);
  submit(
      [=](ServerStore& store) -> Result<void> {
        Result<int64_t> inserted = store.startUsage(viewerID, hostID, reportedBy, started);
        if (!inserted) return Failed{inserted.error()};
        *row = *inserted;
        return {};
      },
      [this, key = viewerID + " " + hostID](const Result<void>& inserted) {
        if (!inserted) log_("Cannot record the session " + key + ": " + inserted.error());
      });
  return row;
}

}  // namespace plimo
