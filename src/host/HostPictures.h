#pragma once
// The host's pictures: captures the shared screen, makes each picture into
// tiles or H.264 and sends it through the frame transfer at the pace the
// helper's acknowledgements allow (FrameRate), with a statistics line every
// 10 s. It places the injector on the screen it shares.
//
// Owner: the host session, which creates it with the session, starts it at
// consent, passes on the helper's requests and acknowledgements, and stops
// it when the session ends.
// Everything runs on the loop's thread; the capture thread's stop reaches it
// through a posted task that checks it still lives. The injector outlives it.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Bytes.h"
#include "core/EventLoop.h"
#include "core/Weakly.h"
#include "host/FrameRate.h"
#include "host/InputInjector.h"
#include "host/TileEncoder.h"
#include "platform/PlatformFactory.h"
#include "platform/Rendering.h"
#include "protocol/wire/FrameWindowSender.h"

namespace plimo {

class HostPictures {
 public:
  struct Events {
    std::function<void(ByteView)> send;
    std::function<void(const std::string&)> log;
    // The screen cannot be shared, or no longer: what to tell the person here
    // and the helper, who would otherwise wait for a picture without end;
    // both empty when it can be shared again.
    std::function<void(const std::string& here, const std::string& helper)> onProblem;
    // The windows the capture leaves out, asked at each capture start.
    std::function<std::vector<uint32_t>()> excludedWindows;
    // The person here ended the sharing from the desktop (ScreenSource's
    // onSharingEnded): what to tell the helper as the session ends.
    std::function<void(const std::string& helper)> onSharingEnded;
  };

  // Frame chunks sent at once: 40 × 1.2 kB every 10 ms is up to 4.8 MB/s, the
  // most a 1080p H.264 or tile stream needs; the rest waits for the next run.
  static constexpr size_t kChunkBudget = 40;

  HostPictures(EventLoop& loop, PlatformFactory& platform, InputInjector& injector, Events events);
  HostPictures(const HostPictures&) = delete;
  HostPictures& operator=(const HostPictures&) = delete;

  // The monitor-list message of this PC's screens.
  Bytes monitorList() const;
  // Consent given: shares the primary screen (or the first) and sends
  // pictures from now.
  void start();
  // Ends capture and sending.
  void stop();
  // The helper picked screen `index` of the monitor list.
  void showMonitor(size_t index);
  void setPaused(bool paused);
  // The helper's capability byte: whether it shows H.264, and which frame
  // transfer it speaks.
  void setCapabilities(uint8_t capabilities);
  // The next picture is a complete one.
  void requestFull() { wantFull_ = true; }
  void handleAck(ByteView packet);
  void handleNack(ByteView packet) { frames_.handleNack(packet); }
  // One capture pass: the rate, the statistics, and a picture when one is due.
  void pass();

  // Why the screen is not shared; empty while it is.
  const std::string& problem() const { return problem_; }
  Rendering rendering() const { return rendering_; }
  size_t framesInFlight() const { return frames_.frames().size(); }

 private:
  void share(std::optional<Display> display);
  // A picture to send: the screen changed, tiles of one are left, or a
  // complete one is wanted.
  bool pictureWaiting() const;
  // Pictures go as H.264: the helper shows it and the encoder has not failed.
  bool video() const { return videoWanted_ && !videoFailed_; }
  // Tiles of the last picture are still to go.
  bool tilesLeft() const { return !video() && tiles_.more(); }
  void tryCapture(bool fromAck);
  std::optional<Bytes> captureBlob();
  std::optional<Bytes> videoBlob(const Picture& picture);
  void logStatistics(double now);
  void log(const std::string& text) const { events_.log(text); }
  void send(ByteView packet) const { events_.send(packet); }

  EventLoop& loop_;
  PlatformFactory& platform_;
  InputInjector& injector_;
  const Events events_;

  std::unique_ptr<ScreenSource> capturer_;
  std::vector<Display> displays_;
  std::string problem_;
  FrameWindowSender frames_;
  TileEncoder tiles_;
  std::unique_ptr<VideoEncoder> encoder_;
  Rendering rendering_ = Rendering::none;
  FrameRate rate_;
  bool sharing_ = false;
  bool paused_ = false;
  bool videoWanted_ = false;
  bool videoFailed_ = false;
  bool wantFull_ = true;
  double lastCapture_ = -1;  // when the last picture was taken
  double retryAt_ = 0;       // when retry_ fires
  int statFrames_ = 0;
  double statEncode_ = 0;
  size_t statBytes_ = 0;
  double statStart_ = 0;

  Timer sendTimer_, retry_;
  LifeGuard<HostPictures> guard_{this};
};

}  // namespace plimo
