#include "server/HandshakeWorker.h"

#include <chrono>

#include "core/Failure.h"
#include "protocol/EcdhKey.h"
#include "protocol/ServerPackets.h"

namespace plimo {

HandshakeWorker::HandshakeWorker(EventLoop& loop, SigningKey key, bool threaded, Done done)
    : loop_(loop), key_(std::move(key)), done_(std::move(done)), alive_(std::make_shared<bool>(true)) {
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
  {
    std::lock_guard lock(mutex_);
    if (jobs_.size() >= (preferred ? kMaxQueued : kMaxQueued - kPreferredRoom)) return false;
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
  return true;
}

void HandshakeWorker::run() {
  std::weak_ptr<bool> alive = alive_;
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    auto result = std::make_shared<HandshakeResult>(work(job));
    loop_.post([this, alive, result] {
      if (!alive.expired()) done_(*result);
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
