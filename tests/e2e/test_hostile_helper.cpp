// A hostile helper without windows meets real helped PCs through
// plimo-server. Its profile name is markup that would read /dev/zero into a
// window's label, and terminal codes that would clear the helped PC's
// terminal, print a check number of their own, conceal the real one and
// write to its clipboard. The helped PC, with windows or on a terminal, stays
// small, keeps answering and shows the real check number.

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <optional>
#include <regex>
#include <set>

#include "e2e/HeadlessClient.h"
#include "e2e/ServerProcess.h"
#include "platform/TestServers.h"

using namespace plimo;
using namespace plimo::e2e;

namespace {

const std::string kMarkup = "<img src=\"/dev/zero\">";
const std::string kCodes = "\x1b[2J\x1b[HCheck number: 999 999\x1b[8m\x1b]52;c;ZWNobyBwd25lZA==\x07\xC2\x9B" "8m";
// What the codes look like once they are text.
const std::string kCodesShown = "\\x1b[2J\\x1b[HCheck number: 999 999\\x1b[8m\\x1b]52;c;ZWNobyBwd25lZA==\\x07\\x9b8m";
// A helped PC that reads /dev/zero into a label grows past this in seconds.
constexpr long kMaxKb = 200 * 1024;
// Consent is asked at most 2 s after the helper arrives; windows or a
// terminal show it soon after.
constexpr double kConsentWait = 30;

struct Scene {
  explicit Scene(const char* name)
      : dir(name),
        server(dir / "data", dir / "server.txt"),
        ini(relayIni(server.udpPort, std::to_string(server.tcpPorts.empty() ? 0 : server.tcpPorts[0]))),
        helper("helper", ini + "[Profile]\nName=" + kMarkup + kCodes + "\n") {}
  TempDir dir;
  ServerProcess server;
  std::string ini;
  HeadlessClient helper;
};

// A mapped top-level window of `width` x `height` on `x`'s screen, where it is.
std::optional<XRectangle> findWindow(::Display* x, int width, int height) {
  Window root, parent, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(x, DefaultRootWindow(x), &root, &parent, &children, &count)) return std::nullopt;
  std::optional<XRectangle> found;
  for (unsigned i = 0; i < count && !found; ++i) {
    XWindowAttributes a;
    if (XGetWindowAttributes(x, children[i], &a) && a.map_state == IsViewable && a.width == width &&
        a.height == height)
      found = XRectangle{short(a.x), short(a.y), static_cast<unsigned short>(a.width),
                         static_cast<unsigned short>(a.height)};
  }
  if (children) XFree(children);
  return found;
}

// The pixels of `r` on the screen, as the X server has them.
std::vector<unsigned long> grab(::Display* x, XRectangle r) {
  std::vector<unsigned long> out;
  XImage* image = XGetImage(x, DefaultRootWindow(x), r.x, r.y, r.width, r.height, AllPlanes, ZPixmap);
  if (!image) return out;
  for (int row = 0; row < r.height; ++row)
    for (int col = 0; col < r.width; ++col) out.push_back(XGetPixel(image, col, row));
  XDestroyImage(image);
  return out;
}

long peakKb(pid_t pid) { return statusKb(pid, "VmHWM:"); }

}  // namespace

TEST(HostileHelper, AHelpedPCOnATerminalShowsTheRealCheckNumberAndNoCodes) {
  REQUIRE_PROGRAMS();
  Scene s("hostile-terminal");
  ASSERT_TRUE(s.server.up());
  HeadlessClient host("host", s.ini);
  host.startOnTerminal();
  ASSERT_TRUE(host.waitForID(20)) << host.output() << host.log();
  s.helper.start({"-autoConnect", host.lastID()});
  ASSERT_TRUE(host.waitForOutput("No answer in 30 s means Deny.", kConsentWait))
      << host.output() << host.log() << s.helper.log();
  const std::string check = checkNumber(s.helper.log());
  ASSERT_FALSE(check.empty()) << s.helper.log();
  const std::string out = host.output();
  // The helper's text is all there, as text, on the question's first line.
  EXPECT_NE(out.find("\n" + kMarkup + kCodesShown + " wants to help this PC\n"), std::string::npos) << out;
  EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
  EXPECT_EQ(out.find('\x9b'), std::string::npos) << out;
  // The only line that starts with a check number is the real one.
  EXPECT_NE(out.find("\nCheck number: " + check + "\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("\nCheck number: "), out.find("\nCheck number: " + check + "\n")) << out;
  EXPECT_LT(peakKb(host.pid()), kMaxKb);
  host.type("d");
  EXPECT_TRUE(host.waitForLog("[host] the session was declined", 10)) << host.log();
  EXPECT_EQ(host.log().find('\x1b'), std::string::npos) << host.log();
}

// The consent panel shows the helper's name: as text, the panel appears,
// stays small and repaints its countdown every second. Read as markup, the
// label would read /dev/zero without end and the panel would never show.
TEST(HostileHelper, AHelpedPCWithWindowsStaysSmallAndItsConsentPanelAnswers) {
  REQUIRE_PROGRAMS();
  plimo::testing::Xvfb display(1280, 800);
  if (!display.running()) GTEST_SKIP() << "no Xvfb";
  Scene s("hostile-windows");
  ASSERT_TRUE(s.server.up());
  HeadlessClient host("host", s.ini);  // its home and log; started with windows here
  Process windowed(HeadlessClient::program(), {}, (host.home() / "windows.txt").string(),
                   {{"PLIMO_HOME", host.home().string()}, {"DISPLAY", display.name()}, {"QT_QPA_PLATFORM", "xcb"}});
  static const std::regex myID("My ID is ([0-9]{3}) ([0-9]{3}) ([0-9]{3})");
  std::smatch m;
  std::string log;
  bool registered = waitFor([&] { return std::regex_search(log = host.log(), m, myID) || !windowed.running(); }, 20);
  if (!windowed.running() && windowed.output().find("has no windows") != std::string::npos)
    GTEST_SKIP() << "this build has no windows";
  ASSERT_TRUE(registered && !m.empty()) << log << windowed.output();
  s.helper.start({"-autoConnect", m[1].str() + m[2].str() + m[3].str()});

  ::Display* x = XOpenDisplay(display.name().c_str());
  ASSERT_TRUE(x);
  std::optional<XRectangle> panel;
  // Bounded three ways, so a helped PC that hangs and grows fails the test
  // (and is killed) instead of taking the machine's memory.
  waitFor([&] {
    panel = findWindow(x, 476, 436);
    return panel || residentKb(windowed.pid()) > kMaxKb || !windowed.running();
  }, kConsentWait);
  const long peak = windowed.running() ? peakKb(windowed.pid()) : -1;
  if (!panel || peak > kMaxKb) windowed.kill();
  ASSERT_TRUE(panel) << "no consent panel; peak " << peak << " kB\n" << host.log();
  EXPECT_LT(peak, kMaxKb);

  // Drawn (more than a background), then drawn again as the countdown goes on.
  std::vector<unsigned long> before;
  EXPECT_TRUE(waitFor([&] {
    before = grab(x, *panel);
    return std::set<unsigned long>(before.begin(), before.end()).size() > 8;
  }, 5));
  EXPECT_TRUE(waitFor([&] { return grab(x, *panel) != before; }, 3)) << "the panel does not repaint";
  EXPECT_TRUE(windowed.running());
  EXPECT_LT(peakKb(windowed.pid()), kMaxKb);
  EXPECT_EQ(host.log().find('\x1b'), std::string::npos) << host.log();
  XCloseDisplay(x);
}
