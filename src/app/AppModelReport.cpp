// The model's half that runs the connection test, for the help window and
// for the "reportTo" start-up automation.

#include "app/AppModel.h"
#include "app/ConnectionTest.h"
#include "platform/System.h"
#include "protocol/net/Net.h"
#include "support/AtomicFile.h"
#include "support/Firewall.h"
#include "support/IniFile.h"
#include "support/NetProbes.h"

namespace plimo {

namespace {

// The automation waits this long after the first registration, so that the
// server's first answers (pin, ports) are in before the test reads the link.
constexpr double kReportDelay = 1.0;

}  // namespace

void AppModel::runConnectionTest(std::function<void(const ConnectionReport::Result&)> done) {
  SystemInfo info = system_.info();
  ConnectionTest::Context context{
      NetProbes::stunServers(ini_.string("Diagnostics", "StunServers", "")),
      version(),
      info.osName + " " + info.osVersion,
      serverAddress(),
      ipv4Interfaces,
      firewallState,
  };
  connectionTest_ = ConnectionTest::start(loop_, sockets_, std::move(context), link_->client(), std::move(done));
  if (!link_->client()) return;
  std::weak_ptr<ConnectionTest> run = connectionTest_;
  link_->testRelay([run](bool ok, int64_t milliseconds, const std::string& text) {
    if (auto r = run.lock()) r->relayAnswered(ok, milliseconds, text);
  });
}

void AppModel::scheduleReport(const std::string& path) {
  reportTimer_ = loop_.after(kReportDelay, guard_.weakly([path](AppModel& m) {
    m.runConnectionTest([&m, path](const ConnectionReport::Result& result) {
      if (auto written = writeFileAtomically(path, result.text); !written)
        m.log("Could not write the connection report to " + path + ": " + written.error());
      else
        m.log("Connection report written to " + path);
    });
  }));
}

}  // namespace plimo
