// What the host shares, when it takes a picture, and how it goes out: tiles
// or H.264.

#include "host/HostPictures.h"

#include <algorithm>
#include <cstdio>

#include "core/StageLog.h"
#include "core/WorkClock.h"
#include "protocol/wire/ChannelMsg.h"
#include "protocol/wire/SessionCodecs.h"

namespace plimo {

namespace {

// The statistics line's period.
constexpr double kStatsPeriod = 10.0;
// A frame not acknowledged this long after its last chunk first went out is
// given up: a complete picture replaces it, so a stalled transfer never
// freezes the screen. Counted from the start, a complete picture larger
// than a slow link carries in that time would be given up over and over.
constexpr double kFrameTimeout = 2.0;
constexpr double kSendPeriod = 0.01;
// Frames in flight with the windowed transfer: enough to cover a relayed
// round trip at 60 pictures a second without queueing stale pictures.
constexpr size_t kMaxInFlight = 4;
constexpr double kGapSlack = 0.001;

int32_t toI32(double value) { return int32_t(std::clamp(value, -2147483648.0, 2147483647.0)); }

}  // namespace

HostPictures::HostPictures(EventLoop& loop, PlatformFactory& platform, InputInjector& injector, Events events)
    : loop_(loop),
      platform_(platform),
      injector_(injector),
      events_(std::move(events)),
      capturer_(platform.screenSource()),
      frames_(loop),
      statStart_(loop.now()) {
  capturer_->onStopped = [&loop, weak = guard_.weak()](std::string reason) {
    loop.post([weak, reason = std::move(reason)] {
      if (auto self = weak.lock()) {
        self->log("capture stopped: " + reason);
        self->problem_ = "Sharing the screen stopped (" + reason + ").";
        self->events_.onProblem(self->problem_, "Sharing the screen stopped on the helped PC (" + reason + ").");
      }
    });
  };
  capturer_->onSharingEnded = [&loop, weak = guard_.weak()](std::string reason) {
    loop.post([weak, reason = std::move(reason)] {
      if (auto self = weak.lock()) {
        self->log("sharing ended here: " + reason);
        if (self->events_.onSharingEnded)
          self->events_.onSharingEnded("The helped PC ended the session: " + reason + ".");
      }
    });
  };
  // A new picture goes out at once, not at the next capture pass.
  capturer_->slot.setOnPublish([&loop, weak = guard_.weak()] {
    loop.post([weak] {
      if (auto self = weak.lock()) self->tryCapture(false);
    });
  });
}

Bytes HostPictures::monitorList() const {
  std::vector<MonitorList::Monitor> list;
  for (const auto& screen : capturer_->displays()) {
    const Rect& b = screen.bounds;
    list.push_back({toI32(b.x), toI32(b.y), toI32(b.width), toI32(b.height), screen.primary});
  }
  return MonitorList::encode(list);
}

void HostPictures::start() {
  displays_ = capturer_->displays();
  std::optional<Display> chosen;
  for (const auto& d : displays_)
    if (d.primary && !chosen) chosen = d;
  if (!chosen && !displays_.empty()) chosen = displays_.front();
  share(chosen);
  frames_.setMaxInFlight(kMaxInFlight);
  rate_.begin(loop_.now());
  sharing_ = true;
  sendTimer_ = loop_.every(kSendPeriod, guard_.weakly([](HostPictures& p) {
    for (auto& packet : p.frames_.nextPackets(kChunkBudget)) p.send(packet);
  }));
}

void HostPictures::stop() {
  sharing_ = false;
  retry_.reset();
  sendTimer_.reset();
  capturer_->stop();
}

void HostPictures::showMonitor(size_t index) {
  if (index >= displays_.size()) return;
  frames_.clear();
  wantFull_ = true;
  share(displays_[index]);
}

void HostPictures::share(std::optional<Display> display) {
  if (!display) {
    problem_ = "No screen found to share.";
    log("no screen found to share");
    events_.onProblem(problem_, "The helped PC has no screen to share.");
    return;
  }
  injector_.setScreen(display->bounds);
  try {
    capturer_->start(*display, events_.excludedWindows ? events_.excludedWindows() : std::vector<uint32_t>{});
  } catch (const Failure& failure) {
    // The platform's text says what is missing and what to do: X11's and
    // Wayland's differ.
    problem_ = "Plimo cannot share the screen of this PC (" + failure.text() + ").";
    log("capture failed: " + failure.text());
    events_.onProblem(problem_, "The helped PC cannot share its screen (" + failure.text() + ").");
    return;
  }
  // Where the platform placed it: a desktop that asks the person first
  // knows the screen's place only once it is shared.
  if (capturer_->display()) injector_.setScreen(capturer_->display()->bounds);
  injector_.setPictureSize(capturer_->slot.size());
  // Such a desktop also names its screens only then: the helper chooses
  // from the list it is sent after this.
  displays_ = capturer_->displays();
  if (!problem_.empty()) {
    problem_.clear();
    events_.onProblem("", "");
  }
  wantFull_ = true;
}

void HostPictures::setPaused(bool paused) {
  paused_ = paused;
  wantFull_ = true;
}

void HostPictures::setCapabilities(uint8_t capabilities) {
  videoWanted_ = (capabilities & Capability::video) != 0;
  const bool legacy = (capabilities & Capability::windowed) == 0;
  if (legacy != frames_.legacy()) {
    frames_.setLegacy(legacy);
    frames_.clear();
  }
  wantFull_ = true;
  log(std::string("helper can show H.264: ") + (videoWanted_ ? "true" : "false"));
}

void HostPictures::handleAck(ByteView packet) {
  frames_.handleAck(packet);
  if (frames_.hasRoom()) tryCapture(true);
}

void HostPictures::pass() {
  const double now = loop_.now();
  if (auto switched = rate_.check(now)) {
    encoder_.reset();
    log(*switched);
  }
  logStatistics(now);
  tryCapture(false);
}

void HostPictures::logStatistics(double now) {
  if (!elapsed(now, statStart_, kStatsPeriod)) return;
  const double span = now - statStart_;
  if (statFrames_ > 0) {
    const Size size = capturer_->slot.size();
    char line[160];
    std::snprintf(line, sizeof line, "%.1f pictures/s, encode %.1f ms each, %.1f Mbit/s, %s, %dx%d",
                  statFrames_ / span, statEncode_ * 1000 / statFrames_, double(statBytes_) * 8 / span / 1e6,
                  video() ? "H.264" : "tiles", int(size.width), int(size.height));
    log(line);
  }
  statFrames_ = 0;
  statEncode_ = 0;
  statBytes_ = 0;
  statStart_ = now;
}

bool HostPictures::pictureWaiting() const {
  return wantFull_ || capturer_->slot.changed() || tilesLeft();
}

void HostPictures::tryCapture(bool fromAck) {
  if (paused_ || !sharing_) return;
  const double now = loop_.now();
  const TxFrame* oldest = frames_.frames().empty() ? nullptr : &frames_.frames().front();
  const bool stalled = oldest && oldest->sentWhole && now - *oldest->sentWhole > kFrameTimeout;
  if (stalled) {
    frames_.clear();
    wantFull_ = true;
  }
  // A still screen makes no picture and decides nothing; a picture that
  // comes early waits only for the rest of the gap. A millisecond early
  // passes: the window's loop rounds timers to milliseconds.
  if (!pictureWaiting()) return;
  if (const double wait = lastCapture_ + rate_.frameGap() - now; wait > kGapSlack) {
    if (retryAt_ <= now) {
      retryAt_ = now + wait;
      retry_ = loop_.after(wait, guard_.weakly([](HostPictures& p) {
        p.retryAt_ = 0;
        p.tryCapture(false);
      }));
    }
    return;
  }
  const bool room = frames_.hasRoom();
  if (!fromAck) rate_.due(!room);
  if (!room) return;
  lastCapture_ = now;
  const double began = workSeconds();
  auto frame = captureBlob();
  if (!frame) return;
  const double took = workSeconds() - began;
  statEncode_ += took;
  rate_.produced(took);
  ++statFrames_;
  statBytes_ += frame->size();
  wantFull_ = false;
  stageMark("encoded");
  if (!frames_.start(*frame)) return;
  stageMark("sent");  // before: the helper may take the chunks in before this thread goes on
  for (auto& packet : frames_.nextPackets(kChunkBudget)) send(packet);
}

std::optional<Bytes> HostPictures::captureBlob() {
  // Tiles go out 64 at a time: what a large change or a full picture left
  // over comes from the picture already taken, changed or not.
  PictureRef picture = capturer_->slot.take(wantFull_ || tilesLeft());
  if (!picture) return std::nullopt;
  if (video()) {
    if (auto blob = videoBlob(*picture)) return blob;
    if (!videoFailed_) return std::nullopt;  // the encoder held this picture back
  }
  rendering_ = Rendering::tiles;
  auto update = tiles_.update(*picture, wantFull_);
  if (!update) return std::nullopt;
  return PictureBlob::tiles(*update);
}

std::optional<Bytes> HostPictures::videoBlob(const Picture& picture) {
  const int w = picture.width, h = picture.height;
  bool forceKey = wantFull_;
  if (!encoder_ || encoder_->width() != w || encoder_->height() != h) {
    encoder_.reset();
    try {
      encoder_ = platform_.videoEncoder(w, h, rate_.rate60() ? 60 : 30);
    } catch (const Failure& failure) {
      log("no H.264 encoder, using tiles: " + failure.text());
      videoFailed_ = true;
      wantFull_ = true;
      return std::nullopt;
    }
    const Rendering made = videoRendering(encoder_->hardware());
    if (made != rendering_) {
      rendering_ = made;
      log(encoder_->hardware() ? "video encoded by this PC's video hardware" : "video encoded in software");
    }
    forceKey = true;
  }
  Bytes data;
  try {
    data = encoder_->encode(picture, forceKey);
  } catch (const Failure& failure) {
    log("H.264 encode failed, using tiles: " + failure.text());
    encoder_.reset();
    videoFailed_ = true;
    wantFull_ = true;
    return std::nullopt;
  }
  if (data.empty()) return std::nullopt;
  return PictureBlob::video(w, h, data);
}

}  // namespace plimo
