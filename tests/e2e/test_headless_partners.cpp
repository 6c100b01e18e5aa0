// Two `plimo --headless` PCs meeting through plimo-server on loopback: the
// helper connects by ID at start, the helped PC lets it in unattended.

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include "e2e/HeadlessClient.h"
#include "e2e/ServerProcess.h"
#include "e2e/TrustedHelper.h"
#include "platform/TestServers.h"
#include "platform/XTestClient.h"
#include "platform/ffmpeg/ImageFiles.h"
#include "video/VideoKit.h"

using namespace plimo;
using namespace plimo::e2e;

namespace {

bool programsBuilt() { return !builtProgram("server/plimo-server").empty() && !HeadlessClient::program().empty(); }

// plimo-server, a helped PC with unattended access, and a helper that
// connects to it by ID at start: one the company trusts, with a kept ID.
struct Partners {
  TempDir dir;
  ServerProcess server;
  std::string ini;
  HeadlessClient host;
  HeadlessClient helper;

  explicit Partners(const char* name)
      : dir(name),
        server(dir / "data", dir / "server.txt"),
        ini(relayIni(server.udpPort, std::to_string(server.tcpPorts[0]))),
        host("host", ini + "[Session]\nUnattended=1\n"),
        helper("helper", ini + keptIDIni()) {}

  // The helper's kept ID (before it is taken back, a fresh one may show).
  std::string helperID;

  // Starts both PCs; false (with the logs in `why`) when one got no ID.
  // `helperArgs`: more arguments for the helper.
  bool start(std::string& why, std::vector<std::string> helperArgs = {}) {
    if (!server.up()) return why = "no server", false;
    host.start();
    if (!host.waitForID(20)) return why = host.log(), false;
    helperID = trustHelper(server.program, server.data, helper, why);
    if (helperID.empty()) return false;
    helperArgs.insert(helperArgs.begin(), {"-autoConnect", host.lastID()});
    helper.start(helperArgs);
    if (!helper.waitForID(20)) return why = helper.log(), false;
    return true;
  }
};

}  // namespace

TEST(HeadlessPartners, HelperConnectsByIDAndTheServerRecordsTheSession) {
  if (!programsBuilt()) GTEST_SKIP() << "plimo-server or plimo is not built in this tree";
  Partners p("partners");
  std::string why;
  ASSERT_TRUE(p.start(why)) << why;
  auto& server = p.server;
  auto& host = p.host;
  auto& helper = p.helper;
  const std::string hostID = host.lastID();
  ASSERT_TRUE(waitFor([&] { return !checkNumber(helper.log()).empty() && !checkNumber(host.log()).empty(); }, 30))
      << "helper:\n" << helper.log() << "\nhost:\n" << host.log() << "\nserver:\n" << server.log();
  EXPECT_EQ(checkNumber(helper.log()), checkNumber(host.log()));
  ASSERT_TRUE(server.process->waitForOutput("Session " + p.helperID + " helps " + hostID, 10)) << server.log();

  // The helper leaves: the record gets its length.
  helper.stop();
  EXPECT_TRUE(server.process->waitForOutput(" ended after ", 10)) << server.log();
}

// The helped PC on an X display with unattended access captures that display
// and sends its pictures to the helper as soon as the helper is let in.
TEST(HeadlessPartners, AnUnattendedHostOnAnXDisplaySharesIt) {
  if (!programsBuilt()) GTEST_SKIP() << "plimo-server or plimo is not built in this tree";
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display (scripts/test starts Xvfb)";
  Partners p("shared-display");
  std::string why;
  ASSERT_TRUE(p.start(why)) << why;
  auto& host = p.host;
  // The statistics line comes 10 s into the session, when pictures went out
  // (as H.264: the helper can show it).
  static const std::regex shared(R"(\[host\] [0-9.]+ pictures/s, .* (tiles|H\.264), [0-9]+x[0-9]+)");
  ASSERT_TRUE(waitFor([&] { return std::regex_search(host.log(), shared); }, 40)) << host.log();
  EXPECT_EQ(host.log().find("capture failed"), std::string::npos) << host.log();
  EXPECT_NE(host.log().find("Being helped by"), std::string::npos) << host.log();
}

// A helper without windows connects, receives the helped PC's own X display
// and writes its first picture: with tiles it is the display pixel for pixel
// (as xwd reads it), with H.264 within 32 dB. The pointer is drawn into the
// shared picture, so its area is left out.
TEST(HeadlessPartners, AHeadlessHelperDumpsThePictureOfTheHelpedDisplay) {
  REQUIRE_PROGRAMS();
  constexpr int kW = 800, kH = 600;
  struct Case {
    const char* name;
    std::vector<std::string> args;
    bool video;
  };
  for (const Case& c : {Case{"tiles", {"-pictures", "tiles"}, false}, Case{"H.264", {}, true}}) {
    SCOPED_TRACE(c.name);
    plimo::testing::Xvfb display(kW, kH);
    if (!display.running()) GTEST_SKIP() << "no Xvfb";
    ::Display* x = XOpenDisplay(display.name().c_str());
    ASSERT_TRUE(x);
    // Noise makes every pixel tell for tiles; video gets a screen of
    // windows, as it is made for.
    if (!c.video) {
      plimo::testing::paintNoise(x, 17);
    } else {
      plimo::testing::fillRect(x, 0, 0, kW, kH, 0x3A6EA5);
      plimo::testing::fillRect(x, 60, 40, 500, 360, 0xF0F0F0);
      plimo::testing::fillRect(x, 60, 40, 500, 24, 0x1F4E79);
      plimo::testing::fillRect(x, 300, 250, 420, 300, 0xFFFFFF);
      plimo::testing::fillRect(x, 0, kH - 40, kW, 40, 0x202020);
    }
    Window root, child;
    int px = 0, py = 0, wx, wy;
    unsigned mask;
    XQueryPointer(x, DefaultRootWindow(x), &root, &child, &px, &py, &wx, &wy, &mask);
    Partners p("dump-picture");
    const std::string png = p.dir / "first.png";
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-dumpPicture", png});
    std::string why;
    ASSERT_TRUE(p.start(why, args)) << why;
    ASSERT_TRUE(p.helper.waitForLog("Picture saved to " + png, 40)) << p.helper.log() << p.host.log();
    EXPECT_NE(p.helper.log().find(c.video ? "Picture now as H.264 video (frame 1, 800 x 600)"
                                          : "Picture now as tiles (frame 1, 800 x 600)"),
              std::string::npos)
        << p.helper.log();
    auto got = ImageFiles::read(png, [](int w, int h) { return Size{double(w), double(h)}; });
    ASSERT_TRUE(got);
    ASSERT_EQ(got->width, kW);
    ASSERT_EQ(got->height, kH);
    const auto shown = plimo::testing::xwdRoot(display.name());
    ASSERT_EQ(shown.width, kW);
    Picture expected(kW, kH);
    size_t differ = 0;
    for (int y = 0; y < kH; ++y)
      for (int xx = 0; xx < kW; ++xx) {
        const uint32_t rgb = shown.pixels[size_t(y) * kW + size_t(xx)];
        uint8_t* e = expected.row(y) + xx * 4;
        e[0] = uint8_t(rgb), e[1] = uint8_t(rgb >> 8), e[2] = uint8_t(rgb >> 16), e[3] = 255;
        const bool pointer = xx >= px - 32 && xx < px + 32 && y >= py - 32 && y < py + 32;
        if (pointer) std::memcpy(e, got->row(y) + xx * 4, 4);
        if (!pointer && std::memcmp(e, got->row(y) + xx * 4, 3) != 0) ++differ;
      }
    if (c.video) {
      EXPECT_GE(videokit::psnr(expected, *got), 32.0);
    } else {
      EXPECT_EQ(differ, 0u);
    }
    XCloseDisplay(x);
  }
}
