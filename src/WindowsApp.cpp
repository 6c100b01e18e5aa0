#include "WindowsApp.h"

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>

#include <sys/socket.h>
#include <unistd.h>

#include "app/AppModel.h"
#include "app/SessionReports.h"
#include "platform/wayland/DesktopPlatform.h"
#include "protocol/net/NetSocketFactory.h"
#include "support/IniFile.h"
#include "ui/ConnectionTestWindow.h"
#include "ui/HelpWindow.h"
#include "ui/HelperWindows.h"
#include "ui/HostWindows.h"
#include "ui/MainWindow.h"
#include "ui/QtLoop.h"
#include "ui/ReportWindow.h"
#include "ui/SettingsWindow.h"
#include "WaylandSettings.h"

namespace plimo {

namespace {

int termPipe[2] = {-1, -1};

// A SIGTERM takes the normal way out: the handler only wakes the loop.
void onTerm(int) {
  char c = 1;
  [[maybe_unused]] auto n = write(termPipe[1], &c, 1);
}

}  // namespace

int runWindows(int argc, char** argv, const std::vector<std::string>& args) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Plimo");
  // Desktops match the window to its menu entry and icon by this name.
  QGuiApplication::setDesktopFileName("org.plimo.Plimo");
  QtLoop loop;
  std::unique_ptr<QSocketNotifier> term;
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, termPipe) == 0) {
    term = std::make_unique<QSocketNotifier>(termPipe[0], QSocketNotifier::Read);
    QObject::connect(term.get(), &QSocketNotifier::activated, [] { QApplication::quit(); });
    std::signal(SIGTERM, onTerm);
    std::signal(SIGINT, onTerm);
  }
  DesktopPlatform desktop = desktopPlatform(waylandSettings());
  NetSocketFactory sockets(loop);
  PlatformFactory& platform = *desktop.factory;
  IniFile& ini = IniFile::user();
  AppModel model(loop, *desktop.system, sockets, ini, UserDefaults::fromArguments(args));
  SettingsWindow settings(model);
  HelpWindow help;
  ConnectionTestWindow connectionTest(model);
  MainWindow main(model, &settings, &help, &connectionTest);
  HostWindows hostWindows(loop, &main);
  hostWindows.setDesktopAsks(desktop.kind == DesktopKind::wayland);
  model.sessions().setHost(platform, hostWindows.asker());
  model.sessions().setWindows(&hostWindows);
  HelperWindows helperWindows(loop, ini, [&model](std::string_view line) { model.log(line); });
  model.sessions().setViewerWindows(&helperWindows);
  ReportWindow reportForm;
  main.show();
  model.reports().setForm(&reportForm);
  int status = app.exec();
  model.terminate();
  model.sessions().setWindows(nullptr);
  model.sessions().setViewerWindows(nullptr);
  model.reports().setForm(nullptr);
  // Let the goodbyes leave before the sockets close.
  auto last = loop.after(0.3, [] { QApplication::quit(); });
  app.exec();
  return status;
}

}  // namespace plimo
