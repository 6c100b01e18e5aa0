#pragma once
// A helper's viewer session and a helped PC's host session, both real, over
// an in-memory link: the host at end a, the viewer at end b. The platforms,
// the loop and the display belong to the caller (fakes on virtual time in the
// unit tests; the X11 platform on Qt's loop beside the windows) and outlive
// the pair.

#include <algorithm>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "host/HostSession.h"
#include "support/AppSettings.h"
#include "testkit/LossyLink.h"
#include "viewer/ViewerSession.h"

namespace plimo::testkit {

struct SessionPair {
  struct Options {
    LossyLink::Options link{.delay = 0.01};
    bool tilesOnly = true;
    AppSettings helper;  // the helper's profile
    bool hostClipboard = false;  // the helped person's setting
    FileTransfers::Place helpedFiles{}, helperFiles{};
  };

  LossyLink link;
  std::unique_ptr<HostSession> host;
  std::unique_ptr<ViewerSession> viewer;
  std::vector<std::string> hostLogs, viewerLogs;
  // Set when the host asks its user; answer it to let the helper in.
  HostSession::AnswerFn answer;

  SessionPair(EventLoop& loop, PlatformFactory& helped, PlatformFactory& helper, ScreenDisplay* display,
              Options options)
      : link(loop, options.link) {
    link.setReceiver(LossyLink::End::a, [this](ByteView p) {
      if (host) host->receive(p);
    });
    link.setReceiver(LossyLink::End::b, [this](ByteView p) {
      if (viewer) viewer->receive(p);
    });
    HostSession::Link toViewer{"111222333", "417 203", "", false, {"203.0.113.9", 40001},
                               [this](ByteView p) { link.send(LossyLink::End::a, p); }, [] {}};
    HostSession::Events events;
    events.onAskConsent = [this](HostSession&, HostSession::AnswerFn fn) { answer = std::move(fn); };
    events.onLog = [this](const std::string& line) { hostLogs.push_back(line); };
    host = std::make_unique<HostSession>(loop, helped, SystemInfo{"Ada", "ada", "box", "Debian", "12"},
                                         std::move(toViewer), std::move(events), false, false, options.hostClipboard,
                                         options.helpedFiles);
    viewer = std::make_unique<ViewerSession>(
        loop, helper,
        ViewerSession::Link{"444555666", "417 203", [this](ByteView p) { link.send(LossyLink::End::b, p); }},
        options.helper, [this](const std::string& line) { viewerLogs.push_back(line); },
        ViewerSession::Options{"/tmp/first.png", options.tilesOnly, options.helperFiles, false});
    viewer->setDisplay(display);
  }
  ~SessionPair() {
    viewer.reset();
    host.reset();
  }
  SessionPair(const SessionPair&) = delete;
  SessionPair& operator=(const SessionPair&) = delete;

  static bool logged(const std::vector<std::string>& logs, const std::string& pattern) {
    const std::regex re(pattern);
    return std::any_of(logs.begin(), logs.end(), [&](const std::string& l) { return std::regex_search(l, re); });
  }
};

}  // namespace plimo::testkit
