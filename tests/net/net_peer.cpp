// net_peer: a server link (PlimoClient on real sockets) that carries session
// data through the NAT rig, where the headless application has no session to
// send any yet.
//
//   net_peer SERVER_IP UDP_PORT TCP_PORTS KEY_HEX             the helped PC:
//       prints "ID <id>" once registered and sends every piece of session
//       data it receives straight back
//   net_peer SERVER_IP UDP_PORT TCP_PORTS KEY_HEX PARTNER_ID  the helper:
//       connects to the partner, sends kPackets pieces of random session
//       data, and checks that each comes back byte for byte
//
// Every log line of the link goes to standard output. The helper exits 0
// when all pieces came back intact, 1 otherwise; the helped PC runs until
// SIGTERM.

#include <asio/signal_set.hpp>
#include <csignal>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "core/AsioLoop.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/link/PlimoClient.h"
#include "protocol/net/NetSocketFactory.h"

using namespace plimo;

namespace {

constexpr int kPackets = 200;
// Session data goes out as single datagrams; keep the largest sealed one
// within a 1,280-byte path.
constexpr size_t kMaxSize = 1150;
constexpr double kSendInterval = 0.005;  // paced, so no socket buffer overflows
// Datagrams may be lost; what has not come back by then is sent again.
constexpr double kResendAfter = 1.0;
constexpr int kMaxRounds = 5;
constexpr double kGiveUp = 60.0;

void print(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// Piece `n`: a session packet type byte (0x80 and up), the number, then
// random bytes of a size that walks from 1 to kMaxSize.
Bytes piece(int n) {
  size_t size = 5 + size_t(n) * 37 % (kMaxSize - 5);
  Bytes data{uint8_t(0x80 + n % 12)};
  appendLE<uint32_t>(data, uint32_t(n));
  append(data, PlimoCrypto::randomBytes(size - data.size()));
  return data;
}

class Helper {
 public:
  Helper(EventLoop& loop, PlimoClient& client) : loop_(loop), client_(client) {
    for (int n = 0; n < kPackets; ++n) pending_.emplace(n, piece(n));
  }

  void start() {
    round_ = 1;
    sendRound();
  }

  void received(const Bytes& data) {
    auto it = data.size() >= 5 ? pending_.find(int(readLE<uint32_t>(data, 1))) : pending_.end();
    if (it == pending_.end()) {
      // A resent piece that had already come back, or one whose number broke.
      if (data.size() < 5 || readLE<uint32_t>(data, 1) >= uint32_t(kPackets)) ++bad_;
      return;
    }
    if (it->second != data) {
      ++bad_;
      return;
    }
    pending_.erase(it);
    if (pending_.empty()) finish();
  }

  std::function<void()> onDone;
  bool ok = false;

 private:
  void sendRound() {
    next_ = pending_.begin();
    sender_ = loop_.every(kSendInterval, [this] {
      if (next_ == pending_.end()) {
        sender_.reset();
        resend_ = loop_.after(kResendAfter, [this] {
          if (pending_.empty()) return;
          if (++round_ > kMaxRounds) return finish();
          print("Sending " + std::to_string(pending_.size()) + " unanswered piece(s) again");
          sendRound();
        });
        return;
      }
      client_.sendData(next_->second);
      ++next_;
    });
  }

  void finish() {
    ok = pending_.empty() && bad_ == 0;
    print("Session data: " + std::to_string(kPackets - int(pending_.size())) + " of " + std::to_string(kPackets) +
          " piece(s) came back intact, " + std::to_string(bad_) + " changed, in " + std::to_string(round_) +
          " round(s)");
    sender_.reset();
    resend_.reset();
    if (onDone) onDone();
  }

  EventLoop& loop_;
  PlimoClient& client_;
  std::map<int, Bytes> pending_;
  std::map<int, Bytes>::iterator next_;
  int round_ = 0;
  int bad_ = 0;
  Timer sender_;
  Timer resend_;
};

// What the link tells either side: its log lines, the helper's start and
// end, and the session data (echoed by the helped PC).
class Peer final : public LinkEvents, public SessionDataReceiver {
 public:
  Peer(AsioLoop& loop, std::string partner) : loop_(loop), partner_(std::move(partner)) {}

  // Before the link starts.
  void use(PlimoClient& client, Helper& helper) {
    client_ = &client;
    helper_ = &helper;
  }

  void onLog(const std::string& line) override { print(line); }
  void onID() override {
    print("ID " + client_->myID());
    if (partner_.empty() || asked_) return;
    asked_ = true;
    client_->connect(partner_);
    giveUp_ = loop_.after(kGiveUp, [this] {
      print("Gave up waiting for the session data");
      loop_.stop();
    });
  }
  void onConnected() override {
    if (!partner_.empty()) helper_->start();
  }
  void onFailed(const std::string&) override {
    if (!partner_.empty()) loop_.stop();
  }
  void receive(ByteView packet) override {
    if (partner_.empty()) return client_->sendData(packet);
    helper_->received(Bytes(packet.begin(), packet.end()));
  }

 private:
  AsioLoop& loop_;
  const std::string partner_;
  PlimoClient* client_ = nullptr;
  Helper* helper_ = nullptr;
  bool asked_ = false;
  Timer giveUp_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    std::fprintf(stderr, "usage: net_peer SERVER_IP UDP_PORT TCP_PORTS KEY_HEX [PARTNER_ID]\n");
    return 2;
  }
  const std::string partner = argc == 6 ? argv[5] : "";
  AsioLoop loop;
  asio::signal_set signals(loop.context(), SIGTERM, SIGINT);
  signals.async_wait([&](const std::error_code&, int) { loop.stop(); });
  NetSocketFactory sockets(loop);
  auto peer = std::make_shared<Peer>(loop, partner);
  auto client = PlimoClient::create(loop, sockets, peer, argv[1], uint16_t(std::stoi(argv[2])), argv[3], argv[4]);
  Helper helper(loop, *client);
  helper.onDone = [&] { loop.stop(); };
  peer->use(*client, helper);
  client->attachSession(peer);
  client->start();
  loop.run();
  client->stop();
  // Let the goodbyes leave before the sockets close.
  auto last = loop.after(0.3, [&] { loop.stop(); });
  loop.run();
  return partner.empty() || helper.ok ? 0 : 1;
}
