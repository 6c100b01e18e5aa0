#include "app/ConnectionTest.h"

#include <cstdio>
#include <ctime>

#include "core/Weakly.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/link/PlimoClient.h"
#include "support/NetProbes.h"

namespace plimo {

namespace {

tm localTime(double wallTime) {
  time_t seconds = time_t(wallTime);
  tm local{};
  localtime_r(&seconds, &local);
  return local;
}

// "4:10:00 AM" and "Dec 9, 2026 at 4:10:00 AM": abbreviated date, time with
// seconds, the same whatever the locale, as support staff read them.
std::string reportTime(double wallTime) {
  tm t = localTime(wallTime);
  char text[48];
  std::snprintf(text, sizeof text, "%d:%02d:%02d %s", (t.tm_hour + 11) % 12 + 1, t.tm_min, t.tm_sec,
                t.tm_hour < 12 ? "AM" : "PM");
  return text;
}

std::string reportDate(double wallTime) {
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  tm t = localTime(wallTime);
  return std::string(kMonths[t.tm_mon % 12]) + " " + std::to_string(t.tm_mday) + ", " +
         std::to_string(t.tm_year + 1900) + " at " + reportTime(wallTime);
}

}  // namespace

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
  f.date = reportDate(loop_.wallNow());
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
  if (f.attempt) f.attemptTime = reportTime(f.attempt->started);
  report(ConnectionReport::build(f));
}

void ConnectionTest::report(const ConnectionReport::Result& result) {
  natProbe_.reset();
  if (auto done = std::exchange(done_, nullptr)) done(result);
}

}  // namespace plimo
