#pragma once
// The key work of a handshake (a fresh key, the agreement with the client's
// key, the signature of the transcript: about 0.2 ms) away from the server
// loop: a worker thread takes jobs from a bounded queue and posts each result
// back to the loop, so relaying never waits behind handshakes. Without a
// thread (tests on virtual time, in-process benches) the work runs inside
// submit and its result is handed over before submit returns.
//
// submit and `done`: the loop's thread. The work: the worker's. Results of
// jobs still queued when the worker is destroyed are never handed over.

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "core/Bytes.h"
#include "core/EventLoop.h"
#include "core/Weakly.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/crypto/SigningKey.h"
#include "server/Endpoint.h"

namespace plimo {

struct HandshakeResult {
  Endpoint from;
  bool valid = false;  // false: the client's key is not a point on the curve
  Bytes welcome;
  PlimoCrypto::RelayKeys keys;
  double seconds = 0;  // the work's time, to charge to the budget
};

class HandshakeWorker {
 public:
  using Done = std::function<void(const HandshakeResult&)>;
  // Jobs waiting at most: 256 x 0.2 ms is 50 ms of work.
  static constexpr size_t kMaxQueued = 256;
  // The part of the queue that only preferred jobs may take, so that a
  // flood that fills the queue leaves room for known clients.
  static constexpr size_t kPreferredRoom = kMaxQueued / 4;

  HandshakeWorker(EventLoop& loop, SigningKey key, bool threaded, Done done);
  ~HandshakeWorker();
  HandshakeWorker(const HandshakeWorker&) = delete;
  HandshakeWorker& operator=(const HandshakeWorker&) = delete;

  // A well-formed handshake packet from `from`. False when the queue has no
  // room for it (the handshake is dropped).
  bool submit(const Endpoint& from, ByteView packet, bool preferred);

 private:
  struct Job {
    Endpoint from;
    Bytes packet;
  };
  HandshakeResult work(const Job& job) const;
  void run();

  EventLoop& loop_;
  const SigningKey key_;
  Done done_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> jobs_;
  bool stopping_ = false;
  LifeGuard<HandshakeWorker> guard_{this};
  std::thread thread_;  // last: it starts once the rest is made
};

}  // namespace plimo
