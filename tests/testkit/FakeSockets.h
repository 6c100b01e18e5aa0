#pragma once
// In-memory sockets for the server link: what it sends is recorded, what the
// test delivers reaches it through the loop like a real socket's batch.
// The links record into shared logs that outlive them, so a test can read
// what a link sent after the client dropped it.

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "core/EventLoop.h"
#include "protocol/net/SocketFactory.h"
#include "protocol/wire/StreamFramer.h"

namespace plimo::testkit {

struct Datagram {
  Bytes data;
  Address to;
};

// Everything about one fake UDP socket, kept after the socket is gone.
struct UdpRecord {
  EventLoop* loop = nullptr;
  DatagramLink::PacketHandler handler;  // empty once the socket is destroyed
  std::vector<Datagram> sent;
  uint16_t localPort = 0;
  std::string lastSendError;
  bool localNetworkBlocked = false;
  // Sees each datagram as it is sent (after it is recorded), for tests that
  // carry it on to another end.
  std::function<void(const Datagram&)> onSend;
  bool alive() const { return bool(handler); }

  // Delivers one datagram as the socket would: in a posted task, and never
  // once the socket is destroyed.
  static void deliver(const std::shared_ptr<UdpRecord>& record, Bytes data, Address from) {
    record->loop->post([record, data = std::move(data), from = std::move(from)]() mutable {
      if (record->handler) record->handler(std::move(data), from);
    });
  }
};

class FakeDatagramLink final : public DatagramLink {
 public:
  explicit FakeDatagramLink(std::shared_ptr<UdpRecord> record) : record_(std::move(record)) {}
  ~FakeDatagramLink() override { record_->handler = nullptr; }
  void send(ByteView data, const Address& to) override {
    if (data.empty() || to.ip.empty()) return;
    record_->sent.push_back({Bytes(data.begin(), data.end()), to});
    if (record_->onSend) record_->onSend(record_->sent.back());
  }
  uint16_t localPort() const override { return record_->localPort; }
  std::string lastSendError() const override { return record_->lastSendError; }
  bool localNetworkBlocked() const override { return record_->localNetworkBlocked; }

 private:
  std::shared_ptr<UdpRecord> record_;
};

// One fake TCP connection. The test plays the far end: accept() makes it
// connected, finish() ends it; left alone it stays connecting, like a real
// link to a port that drops the attempt.
struct TcpRecord {
  EventLoop* loop = nullptr;
  std::string ip;
  uint16_t port = 0;
  StreamLink::PacketHandler handler;  // empty once the link is destroyed
  std::vector<std::pair<Bytes, bool>> sent;  // packet, droppable
  bool connected = false;
  bool done = false;
  bool cancelled = false;
  std::string error;
  bool alive() const { return bool(handler); }

  void finish(const std::string& reason) {
    if (error.empty()) error = reason;
    connected = false;
    done = true;
  }
  void accept() {
    if (done) return;
    connected = true;
  }
  static void deliver(const std::shared_ptr<TcpRecord>& record, Bytes packet) {
    record->loop->post([record, packet = std::move(packet)]() mutable {
      if (record->handler) record->handler(std::move(packet));
    });
  }
};

class FakeStreamLink final : public StreamLink {
 public:
  explicit FakeStreamLink(std::shared_ptr<TcpRecord> record) : record_(std::move(record)) {}
  ~FakeStreamLink() override { record_->handler = nullptr; }
  void send(ByteView data, bool droppable) override {
    // What the real link cannot frame, it does not send.
    if (StreamFramer::frame(data).empty() || record_->done) return;
    record_->sent.push_back({Bytes(data.begin(), data.end()), droppable});
  }
  bool connected() const override { return record_->connected; }
  bool done() const override { return record_->done; }
  std::string error() const override { return record_->error; }
  uint16_t port() const override { return record_->port; }
  void cancel() override {
    record_->cancelled = true;
    record_->finish("closed");
  }

 private:
  std::shared_ptr<TcpRecord> record_;
};

class FakeSocketFactory final : public SocketFactory {
 public:
  explicit FakeSocketFactory(EventLoop& loop) : loop_(loop) {}

  // Name -> address; a name not listed does not resolve.
  std::map<std::string, std::string> hosts;
  // Names with several addresses (a fleet's servers), before `hosts`.
  std::map<std::string, std::vector<std::string>> fleets;
  // When set, lookups wait in `pendingLookups` until answerLookups().
  bool holdLookups = false;
  std::string localIP = "192.168.1.20";
  uint16_t nextUdpPort = 40000;
  std::optional<std::errc> udpFailure;  // openUdp throws it

  std::vector<std::shared_ptr<UdpRecord>> udp;
  std::vector<std::shared_ptr<TcpRecord>> tcp;  // every connection ever opened
  int lookups = 0;

  std::unique_ptr<DatagramLink> openUdp(DatagramLink::PacketHandler onPacket) override {
    if (udpFailure) throw std::system_error(std::make_error_code(*udpFailure), "UDP socket");
    auto record = std::make_shared<UdpRecord>();
    record->loop = &loop_;
    record->handler = std::move(onPacket);
    record->localPort = nextUdpPort++;
    udp.push_back(record);
    return std::make_unique<FakeDatagramLink>(record);
  }

  std::unique_ptr<StreamLink> openTcp(const std::string& ip, uint16_t port,
                                      StreamLink::PacketHandler onPacket) override {
    auto record = std::make_shared<TcpRecord>();
    record->loop = &loop_;
    record->ip = ip;
    record->port = port;
    record->handler = std::move(onPacket);
    tcp.push_back(record);
    return std::make_unique<FakeStreamLink>(record);
  }

  void resolveIPv4(const std::string& host, ResolveHandler done) override {
    ++lookups;
    pendingLookups.push_back({host, std::move(done)});
    if (!holdLookups) answerLookups();
  }
  void answerLookups() {
    auto pending = std::move(pendingLookups);
    pendingLookups.clear();
    for (auto& [host, done] : pending) {
      std::optional<std::string> ip;
      if (auto it = hosts.find(host); it != hosts.end()) ip = it->second;
      loop_.post([done = std::move(done), ip] { done(ip); });
    }
  }
  void resolveAllIPv4(const std::string& host, ResolveAllHandler done) override {
    auto it = fleets.find(host);
    if (it == fleets.end()) return SocketFactory::resolveAllIPv4(host, std::move(done));
    ++lookups;
    loop_.post([done = std::move(done), ips = it->second] { done(ips); });
  }
  std::string localIPv4() override { return localIP; }

  std::deque<std::pair<std::string, ResolveHandler>> pendingLookups;

 private:
  EventLoop& loop_;
};

}  // namespace plimo::testkit
