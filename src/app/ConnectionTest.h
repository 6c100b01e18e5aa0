#pragma once
// One run of the connection test: the server's test answer, then the TCP
// fallback ports one after another, then the NAT type, and last the
// interfaces and the firewall, gathered into a ConnectionReport.
//
// Ownership and threads: the application model owns the run and drops it to
// cancel (a new run replaces the old); every step and `done` run on the
// loop's thread, and `done` fires once, never after the run is dropped and
// never from inside start(). The run holds the server link weakly: a link
// rebuilt meanwhile gives the "not running" report.

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/EventLoop.h"
#include "protocol/net/SocketFactory.h"
#include "support/ConnectionReport.h"

namespace plimo {

class PlimoClient;
class NatProbe;
class TcpProbe;

class ConnectionTest : public std::enable_shared_from_this<ConnectionTest> {
 public:
  using Done = std::function<void(const ConnectionReport::Result&)>;

  // What the run reads besides the server link.
  struct Context {
    std::vector<std::string> stunServers;
    std::string version;
    std::string system;
    std::string serverAddress;
    std::function<std::vector<InterfaceAddress>()> interfaces;
    std::function<FirewallState()> firewall;
  };

  // The run waits for relayAnswered(); without a link it ends at once with
  // the "not running" report.
  static std::shared_ptr<ConnectionTest> start(EventLoop& loop, SocketFactory& sockets, Context context,
                                               const std::shared_ptr<PlimoClient>& client, Done done);
  ConnectionTest(EventLoop& loop, SocketFactory& sockets, Context context, std::weak_ptr<PlimoClient> client,
                 Done done);

  // The server link's relay test answer, which the owner hands on.
  void relayAnswered(bool ok, int64_t milliseconds, const std::string& text);

 private:
  void nextPort();
  void probeNat();
  void finish();
  void report(const ConnectionReport::Result& result);

  EventLoop& loop_;
  SocketFactory& sockets_;
  Context context_;
  std::weak_ptr<PlimoClient> client_;
  Done done_;
  ConnectionReport::Facts facts_;
  bool relayDone_ = false;
  std::vector<uint16_t> ports_;  // still to probe, and the IP they are on
  std::string portsIP_;
  std::shared_ptr<TcpProbe> tcpProbe_;
  std::shared_ptr<NatProbe> natProbe_;
};

}  // namespace plimo
