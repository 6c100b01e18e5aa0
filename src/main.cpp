// plimo: the application. With --headless it runs the same model without
// windows (an unattended helped PC on a server, scripts, tests).

#include <asio/signal_set.hpp>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/AppModel.h"
#include "app/HeadlessConsent.h"
#include "core/AsioLoop.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/LinuxSystem.h"
#include "protocol/NetSocketFactory.h"
#include "support/IniFile.h"
#include "support/UserDefaults.h"

namespace {

int runHeadless(const std::vector<std::string>& args) {
  using namespace plimo;
  AsioLoop loop;
  // Before the model exists, so that an early SIGTERM still ends cleanly.
  asio::signal_set signals(loop.context(), SIGTERM, SIGINT);
  signals.async_wait([&](const std::error_code&, int) { loop.stop(); });
  LinuxSystem system;
  NetSocketFactory sockets(loop);
  LinuxPlatform platform;
  AppModel model(loop, system, sockets, IniFile::user(), UserDefaults::fromArguments(args));
  // Someone may answer at a terminal only when the program runs in its foreground.
  HeadlessConsent consent(loop, model,
                          isatty(STDIN_FILENO) && isatty(STDERR_FILENO) && tcgetpgrp(STDIN_FILENO) == getpgrp());
  model.setHost(platform, consent.asker());
  // Scripts read the ID from standard output; people read the server's
  // status from standard error, as the main window would show it.
  auto printID = model.myID.observe([](const std::string& id) {
    if (id != "0") std::printf("%s\n", id.c_str()), std::fflush(stdout);
  });
  std::fprintf(stderr, "%s\n", model.serverText.get().c_str());
  auto printStatus =
      model.serverText.observe([](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });
  loop.run();
  model.terminate();
  // Let the goodbyes leave before the sockets close.
  auto last = loop.after(0.3, [&] { loop.stop(); });
  loop.run();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  bool headless = false;
  for (const auto& arg : args) headless = headless || arg == "--headless";
  if (!headless) {
    std::fprintf(stderr, "plimo: this build has no windows; start it with --headless\n");
    return 2;
  }
  return runHeadless(args);
}
