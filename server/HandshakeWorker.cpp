#include "server/HandshakeWorker.h"

#include <chrono>
#include <vector>

#include "core/Failure.h"
#include "protocol/crypto/EcdhKey.h"
#include "protocol/wire/ServerPackets.h"

namespace plimo {

HandshakeWorker::HandshakeWorker(EventLoop& loop, SigningKey key, bool threaded, Done done)
    : loop_(loop), key_(std::move(key)), done_(std::move(done)) {
  if (threaded) thread_ = std::thread([this] { run(); });
}

HandshakeWorker::~HandshakeWorker() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

bool HandshakeWorker::submit(const Endpoint& from, ByteView packet, bool preferred) {
  Job job{from, Bytes(packet.begin(), packet.end())};
  if (!thread_.joinable()) {
    done_(work(job));
    return true;
  }
  bool wasIdle;
  {
    std::lock_guard lock(mutex_);
    if (jobs_.size() >= (preferred ? kMaxQueued : kMaxQueued - kPreferredRoom)) return false;
    wasIdle = jobs_.empty();
    jobs_.push_back(std::move(job));
  }
  // A worker with jobs waiting is awake already.
  if (wasIdle) wake_.notify_one();
  return true;
}

void HandshakeWorker::run() {
  std::weak_ptr<HandshakeWorker> alive = guard_.weak();
  // The results of all jobs taken at once go back in one task: one wake-up
  // of the loop per batch, not per handshake.
  constexpr size_t kResultsPerPost = 16;
  for (;;) {
    auto results = std::make_shared<std::vector<HandshakeResult>>();
    for (;;) {
      Job job;
      {
        std::unique_lock lock(mutex_);
        if (results->empty()) wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (stopping_) return;
        if (jobs_.empty()) break;
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      results->push_back(work(job));
      if (results->size() == kResultsPerPost) break;
    }
    loop_.post([this, alive, results] {
      if (alive.expired()) return;
      for (const HandshakeResult& result : *results) done_(result);
    });
  }
}

HandshakeResult HandshakeWorker::work(const Job& job) const {
  auto started = std::chrono::steady_clock::now();
  HandshakeResult result;
  result.from = job.from;
  ByteView packet(job.packet);
  ByteView clientEph = packet.subspan(ServerPacket::kHandshakeKey, PlimoCrypto::kPublicKeySize);
  ByteView clientRandom = packet.subspan(ServerPacket::kHandshakeRandom, ServerPacket::kRandomSize);
  try {
    EcdhKey ephemeral;
    Bytes secret = ephemeral.sharedSecret(clientEph);
    Bytes transcript =
        PlimoCrypto::relayTranscript(clientEph, clientRandom, ephemeral.publicKey(), key_.publicKey());
    result.welcome.reserve(ServerPacket::kWelcomeSize);
    result.welcome.push_back(ServerPacket::kWelcome);
    result.welcome.push_back(ServerPacket::kVersion);
    append(result.welcome, ephemeral.publicKey());
    append(result.welcome, key_.publicKey());
    append(result.welcome, key_.sign(transcript));
    result.keys = PlimoCrypto::deriveRelayKeys(secret, clientRandom);
    result.valid = true;
  } catch (const Failure&) {
    // Not a point on the curve.
  }
  // As measured on the real clock: it is CPU time spent, which the loop's
  // clock (virtual in tests) does not see.
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return result;
}

}  // namespace plimo
