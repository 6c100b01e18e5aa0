// plimo: the application, with its windows. With --headless it runs the same model without
// windows (an unattended helped PC on a server, scripts, tests); with
// --connection-test it prints the connection report and ends.

#include <asio/signal_set.hpp>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/AppModel.h"
#include "app/CommandLine.h"
#include "app/HeadlessConsent.h"
#include "app/SessionReports.h"
#include "app/TerminalTalk.h"
#include "app/TerminalReportForm.h"
#include "core/AsioLoop.h"
#include "core/Text.h"
#include "platform/linux/LinuxSystem.h"
#include "platform/wayland/DesktopPlatform.h"
#include "protocol/net/NetSocketFactory.h"
#include "support/IniFile.h"
#include "support/UserDefaults.h"
#include "viewer/LatestPicture.h"
#include "WaylandSettings.h"
#ifdef PLIMO_GUI
#include "WindowsApp.h"
#endif

namespace {

// One line of text that may come from outside (the server's status words,
// the ID it gave) on the terminal: printable, so it can neither bring codes
// to the terminal nor print a line of its own.
void printLine(std::string_view text, std::FILE* to) {
  std::fprintf(to, "%s\n", plimo::printable(text).c_str());
  std::fflush(to);
}

// The connection test for an administrator: the report goes to standard
// output once the link has registered, or after kRegistrationWait when it
// cannot, and then the program ends.
void printConnectionTest(plimo::AppModel& model, plimo::AsioLoop& loop) {
  model.runConnectionTest([&loop](const plimo::ConnectionReport::Result& result) {
    // Lines of its own, with the server's and partners' words in them.
    std::string_view text = result.text;
    while (!text.empty()) {
      size_t end = text.find('\n');
      std::fprintf(stdout, "%s\n", plimo::printable(text.substr(0, end)).c_str());
      text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    std::fflush(stdout);
    loop.stop();
  });
}

// --keep-id and --unattended, written before any client reads the file.
bool writeSwitches(const plimo::CommandLine& line, const std::vector<std::string>& args, std::FILE* to) {
  using namespace plimo;
  IniFile& ini = IniFile::user();
  AppSettings settings = AppSettings::load(ini, UserDefaults::fromArguments(args), LinuxSystem().info().fullUserName);
  auto said = line.writeSwitches(ini, std::move(settings));
  if (!said) {
    printLine("plimo: " + said.error(), stderr);
    return false;
  }
  for (const auto& text : *said) printLine(text, to);
  return true;
}

int runHeadless(const std::vector<std::string>& args, bool connectionTest) {
  using namespace plimo;
  // Three UDP handshakes 2 s apart and a TCP port's 5 s connect timeout, and
  // some: past this the link will not register soon, and the report says why.
  constexpr double kRegistrationWait = 15.0;
  // As the "reportTo" automation waits: the server's first answers come in.
  constexpr double kAfterRegistration = 1.0;
  AsioLoop loop;
  // Before the model exists, so that an early SIGTERM still ends cleanly.
  asio::signal_set signals(loop.context(), SIGTERM, SIGINT);
  signals.async_wait([&](const std::error_code&, int) { loop.stop(); });
  DesktopPlatform desktop = desktopPlatform(waylandSettings());
  NetSocketFactory sockets(loop);
  PlatformFactory& platform = *desktop.factory;
  // A helper without windows keeps the latest picture it was shown.
  LatestPicture picture;
  AppModel model(loop, *desktop.system, sockets, IniFile::user(), UserDefaults::fromArguments(args));
  // Someone may answer at a terminal only when the program runs in its foreground.
  HeadlessConsent consent(loop, model,
                          isatty(STDIN_FILENO) && isatty(STDERR_FILENO) && tcgetpgrp(STDIN_FILENO) == getpgrp(),
                          desktop.kind == DesktopKind::wayland);
  model.sessions().setHost(platform, consent.asker());
  // A helper asked for a session report answers at the terminal; without one
  // the asks wait for a start that has windows or a terminal.
  std::unique_ptr<TerminalReportForm> reportForm;
  if (consent.terminal()) {
    reportForm = std::make_unique<TerminalReportForm>([](const std::string& text) {
      std::fputs(text.c_str(), stderr);
      std::fflush(stderr);
    });
    consent.passOtherLines([&reportForm](const std::string& line) { reportForm->typed(line); });
    model.reports().setForm(reportForm.get());
  }
  // The partner's chat and the session's notices go where people read the status.
  TerminalTalk talk(loop, picture, stderr, [&model](const std::string& line) { model.log(line); });
  model.sessions().setWindows(&talk);
  model.sessions().setViewerWindows(&talk);
  bool asked = false;
  auto ask = [&] {
    if (!asked) printConnectionTest(model, loop);
    asked = true;
  };
  Timer testTimer;
  if (connectionTest) testTimer = loop.after(kRegistrationWait, ask);
  // Scripts read the ID from standard output; people read the server's
  // status from standard error, as the main window would show it.
  auto printID = model.link().myID().observe([&](const std::string& id) {
    if (id == "0") return;
    if (!connectionTest) printLine(id, stdout);
    else if (!asked) testTimer = loop.after(kAfterRegistration, ask);
  });
  printLine(model.link().serverText().get(), stderr);
  auto printStatus = model.link().serverText().observe([](const std::string& text) { printLine(text, stderr); });
  auto printNotice = model.notice().observe([](const std::string& text) {
    if (!text.empty()) printLine(text, stderr);
  });
  loop.run();
  if (reportForm) model.reports().setForm(nullptr);
  model.terminate();
  model.sessions().setWindows(nullptr);
  model.sessions().setViewerWindows(nullptr);
  // Let the goodbyes leave before the sockets close.
  auto last = loop.after(0.3, [&] { loop.stop(); });
  loop.run();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  using plimo::CommandLine;
  std::vector<std::string> args(argv + 1, argv + argc);
  const CommandLine line = CommandLine::parse(args);
  if (!line.error.empty()) {
    std::fprintf(stderr, "plimo: %s\n\n%s", line.error.c_str(), CommandLine::usage().c_str());
    return 2;
  }
  if (line.run == CommandLine::Run::help) {
    std::fputs(CommandLine::usage().c_str(), stdout);
    return 0;
  }
  if (line.run == CommandLine::Run::version) {
    std::printf("%s %s\n", std::string(plimo::AppModel::edition).c_str(), plimo::AppModel::version().c_str());
    return 0;
  }
  if (line.keepID || line.unattended) {
    // Standard output is the ID's when a client runs on.
    if (!writeSwitches(line, args, line.run == CommandLine::Run::switchesOnly ? stdout : stderr)) return 1;
    if (line.run == CommandLine::Run::switchesOnly) return 0;
  }
  if (line.run == CommandLine::Run::windows) {
#ifdef PLIMO_GUI
    if (!CommandLine::hasDisplay()) {
      std::fprintf(stderr, "plimo: the windows need a display (DISPLAY or WAYLAND_DISPLAY); "
                           "plimo --headless runs without one\n");
      return 2;
    }
    return plimo::runWindows(argc, argv, args);
#else
    std::fprintf(stderr, "plimo: this build has no windows; start it with --headless or --connection-test\n");
    return 2;
#endif
  }
  return runHeadless(args, line.run == CommandLine::Run::connectionTest);
}
