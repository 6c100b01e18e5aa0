#pragma once
// The server's database writes away from the server loop: one thread runs
// them in the order they were submitted, on the one connection that writes,
// and posts each result back to the loop. A WAL checkpoint's fsync or another
// process holding the database (sqlite3, `plimo-server --trust-helper`) then
// delays the writes, never relaying and the clients' lines.
//
// The loop never waits for the queue. The records of what the server did
// (usage rows, their ends, that a helper was asked) are always queued and
// never dropped: while another process holds the lock the thread waits for
// it however long that takes, and past kMaxQueued they wait in memory (their
// number is bounded by the introductions, which are rate limited per client
// and address: two jobs each). Work a client asks for (a PIN, a report) is
// refused instead, and the client told it is busy, when that client has
// kClientJobs on their way or the queue has passed kClientShare: the rest is
// the records' room. Destruction runs every job still queued before it
// returns; their results are not handed over.
//
// submit, startUsage and the results: the loop's thread. The work: the
// store's thread, or, without one (tests on virtual time, in-process benches),
// inside submit (`inlined`) or in a task posted to the loop (`deferred`: a
// test sees the hop a thread makes, on virtual time).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include "core/EventLoop.h"
#include "core/Weakly.h"
#include "server/ServerStore.h"

namespace plimo {

class StoreWorker {
 public:
  enum class Mode { inlined, deferred, threaded };
  using Log = std::function<void(const std::string&)>;
  // The jobs the queue is made for: a few per partner session, so thousands
  // of sessions' records (a few hundred bytes each) ride out a long lock.
  static constexpr size_t kMaxQueued = 4096;
  // Clients' work stops at three quarters of it.
  static constexpr size_t kClientShare = kMaxQueued * 3 / 4;
  // A client waits for one answer at a time (a PIN, then its next lines; one
  // report, then the next); a few more are a flood.
  static constexpr uint32_t kClientJobs = 4;

  // `log`: the loop's thread.
  StoreWorker(EventLoop& loop, ServerStore& store, Mode mode, Log log);
  ~StoreWorker();
  StoreWorker(const StoreWorker&) = delete;
  StoreWorker& operator=(const StoreWorker&) = delete;

  // A record: runs `work(store)` after every job submitted before it, then
  // `done(result)` on the loop. `done` may find the session it answers gone:
  // it looks it up again by what it kept, never by a pointer.
  template <class Work, class Done>
  void submit(Work work, Done done) {
    push([work = std::move(work), done = std::move(done)](ServerStore& store) mutable -> std::function<void()> {
      return [done = std::move(done), result = work(store)]() mutable { done(std::move(result)); };
    });
  }
  // The same for work the client with serial `client` asked for; false, with
  // nothing queued, when the store is too busy for it (see above).
  template <class Work, class Done>
  [[nodiscard]] bool submitFor(uint64_t client, Work work, Done done) {
    uint32_t& jobs = clientJobs_[client];
    if (jobs >= kClientJobs || queued_ >= kClientShare) {
      if (jobs == 0) clientJobs_.erase(client);
      return false;
    }
    ++jobs;
    submit(std::move(work), [this, client, done = std::move(done)](auto result) mutable {
      finished(client);
      done(std::move(result));
    });
    return true;
  }

  // A new usage record; a failed insert is logged. Its row number comes
  // from the store: the cell returned holds it for the jobs submitted after
  // this one (it is set and read only on the store's side; 0 when the
  // insert failed).
  std::shared_ptr<const int64_t> startUsage(const std::string& viewerID, const std::string& hostID,
                                            const std::string& reportedBy, int64_t started);

  // Jobs submitted whose work has not started.
  size_t queued() const { return queued_; }

 private:
  using Job = std::function<std::function<void()>(ServerStore&)>;
  void push(Job job);
  void run();
  void finished(uint64_t client);

  EventLoop& loop_;
  ServerStore& store_;
  const Mode mode_;
  Log log_;
  std::unordered_map<uint64_t, uint32_t> clientJobs_;  // the loop's: jobs on their way, by client
  bool overflowTold_ = false;  // the loop's: the log heard that records wait past kMaxQueued

  std::atomic<size_t> queued_{0};
  std::mutex mutex_;
  std::condition_variable wake_;  // the thread: a job or the end
  std::deque<Job> jobs_;
  bool stopping_ = false;
  LifeGuard<StoreWorker> guard_{this};
  std::thread thread_;  // last: it starts once the rest is made
};

}  // namespace plimo
