#include "app/ConnectionTest.h"

#include "app/AppLog.h"
#include "core/Weakly.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/link/PlimoClient.h"
#include "support/NetProbes.h"

namespace plimo {

std::shared_ptr<ConnectionTest> ConnectionTest::start(EventLoop& loop, SocketFactory& sockets, Context context,
                                                      const std::shared_ptr<PlimoClient>& client, Done done) {
  auto run = std::make_shared<ConnectionTest>(loop, sockets, std::move(context), client, std::move(done));
  if (!client) {
    loop.post(weakly(std::weak_ptr<ConnectionTest>(run),
                     [](ConnectionTest& self) { self.report(ConnectionReport::notRunning()); }));
  }
  return run;
}

ConnectionTest::ConnectionTest(EventLoop& loop, SocketFactory& sockets, Context context,
                               std::weak_ptr<PlimoClient> client, Done done)
    : loop_(loop), sockets_(sockets), context_(std::move(context)), client_(std::move(client)), done_(std::move(done)) {}

void ConnectionTest::relayAnswered(bool ok, int64_t milliseconds, const std::string& text) {
  auto client = client_.lock();
  if (relayDone_ || !done_) return;
  relayDone_ = true;
  if (!client) return report(ConnectionReport::notRunning());
  facts_.relayOk = ok;
  facts_.relayMilliseconds = milliseconds;
  facts_.relayText = text;
  portsIP_ = client->relayIP();
  if (!portsIP_.empty()) ports_ = client->tcpPorts();
  nextPort();
}

void ConnectionTest::nextPort() {
  if (ports_.empty()) return probeNat();
  uint16_t port = ports_.front();
  ports_.erase(ports_.begin());
  tcpProbe_ = TcpProbe::start(
      loop_, sockets_, portsIP_, port,
      weakly<NetProbes::TcpResult>(weak_from_this(), [port](ConnectionTest& self, NetProbes::TcpResult result) {
        self.facts_.tcp.emplace_back(port, std::move(result));
        self.nextPort();
      }));
}

void ConnectionTest::probeNat() {
  tcpProbe_.reset();
  natProbe_ = NatProbe::start(
      loop_, sockets_, context_.stunServers,
      weakly<NetProbes::Nat, std::vector<std::string>>(
          weak_from_this(), [](ConnectionTest& self, NetProbes::Nat nat, std::vector<std::string> lines) {
            self.facts_.nat = std::move(nat);
            self.facts_.natLines = std::move(lines);
            self.finish();
          }));
}

void ConnectionTest::finish() {
  auto client = client_.lock();
  if (!client) return report(ConnectionReport::notRunning());
  ConnectionReport::Facts& f = facts_;
  f.date = AppLog::formatLocalTime(loop_.wallNow());
  f.version = context_.version;
  f.system = context_.system;
  f.serverAddress = context_.serverAddress;
  f.relayAddress = client->relayAddressText();
  f.relayPort = client->relayPort();
  f.relayBlocked = client->relayBlocked();
  f.serverUp = client->serverUp();
  f.transport = client->transport();
  f.keyFingerprint = PlimoCrypto::keyFingerprint(client->relayKey() ? ByteView(*client->relayKey()) : ByteView());
  f.myID = client->myID();
  f.idPinned = client->idPinned();
  f.localIP = client->localIP();
  f.localPort = client->localPort();
  f.interfaces = context_.interfaces();
  f.firewall = context_.firewall();
  f.attempt = client->lastAttempt();
  // "yyyy-MM-dd HH:mm:ss": the time is what follows the date.
  if (f.attempt) f.attemptTime = AppLog::formatLocalTime(f.attempt->started).substr(11);
  report(ConnectionReport::build(f));
}

void ConnectionTest::report(const ConnectionReport::Result& result) {
  natProbe_.reset();
  if (auto done = std::exchange(done_, nullptr)) done(result);
}

}  // namespace plimo
