#pragma once
// The server's database writes away from the server loop: one thread runs
// them in the order they were submitted, on the one connection that writes,
// and posts each result back to the loop. A WAL checkpoint's fsync or another
// process holding the database (sqlite3, `plimo-server --trust-helper`) then
// delays the writes, never relaying and the clients' lines.
//
// Nothing is dropped: while another process holds the lock the thread waits
// for it however long that takes, and when kMaxQueued jobs wait, submit waits
// for room (the loop stalls rather than lose a billing row). Destruction runs
// every job still queued before it returns; their results are not handed
// over.
//
// submit, startUsage and the results: the loop's thread. The work: the
// store's thread, or, without one (tests on virtual time, in-process benches),
// inside submit (`inlined`) or in a task posted to the loop (`deferred`: a
// test sees the hop a thread makes, on virtual time).

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/EventLoop.h"
#include "server/ServerStore.h"

namespace plimo {

class StoreWorker {
 public:
  enum class Mode { inlined, deferred, threaded };
  using Log = std::function<void(const std::string&)>;
  // Jobs waiting at most: a few per partner session, so thousands of
  // sessions' records (a few hundred bytes each) ride out a long lock.
  static constexpr size_t kMaxQueued = 4096;

  // `log`: the loop's thread.
  StoreWorker(EventLoop& loop, ServerStore& store, Mode mode, Log log);
  ~StoreWorker();
  StoreWorker(const StoreWorker&) = delete;
  StoreWorker& operator=(const StoreWorker&) = delete;

  // Runs `work(store)` after every job submitted before it, then
  // `done(result)` on the loop. `done` may find the session it answers gone:
  // it looks it up again by what it kept, never by a pointer.
  template <class Work, class Done>
  void submit(Work work, Done done) {
    push([work = std::move(work), done = std::move(done)](ServerStore& store) mutable -> std::function<void()> {
      return [done = std::move(done), result = work(store)]() mutable { done(std::move(result)); };
    });
  }

  // A new usage record, its row number known at once (a REPORTASK names it
  // before the insert has run); a failed insert is logged.
  int64_t startUsage(const std::string& viewerID, const std::string& hostID, const std::string& reportedBy,
                     int64_t started);

 private:
  using Job = std::function<std::function<void()>(ServerStore&)>;
  void push(Job job);
  void run();

  EventLoop& loop_;
  ServerStore& store_;
  const Mode mode_;
  Log log_;
  std::shared_ptr<bool> alive_;

  std::mutex mutex_;
  std::condition_variable wake_;  // the thread: a job or the end
  std::condition_variable room_;  // submit: room in the queue
  std::deque<Job> jobs_;
  bool stopping_ = false;
  std::thread thread_;  // last: it starts once the rest is made
};

}  // namespace plimo
