// When the host takes a picture, and how it goes out: tiles or H.264.

#include <cstdio>

#include "core/WorkClock.h"
#include "host/HostSession.h"
#include "protocol/wire/SessionCodecs.h"

namespace plimo {

namespace {

// The host status packet repeats this often, so a viewer that lost it (or
// joined late) learns the mode within a few seconds.
constexpr double kModeRepeat = 2.0;
// The statistics line's period.
constexpr double kStatsPeriod = 10.0;
// A frame not acknowledged this long is given up: a complete picture
// replaces it, so a stalled transfer never freezes the screen.
constexpr double kFrameTimeout = 2.0;

}  // namespace

void HostSession::capturePass() {
  if (phase_ != Phase::running) return;
  const double now = loop_.now();
  if (lastModeSent_ == 0 || elapsed(now, lastModeSent_, kModeRepeat)) {
    lastModeSent_ = now;
    sendMode();
  }
  if (auto switched = rate_.check(now)) {
    encoder_.reset();
    log(*switched);
  }
  logStatistics(now);
  tryCapture(false);
}

void HostSession::logStatistics(double now) {
  if (!elapsed(now, statStart_, kStatsPeriod)) return;
  const double span = now - statStart_;
  if (statFrames_ > 0) {
    const Size size = capturer_->slot.size();
    char line[160];
    std::snprintf(line, sizeof line, "%.1f pictures/s, encode %.1f ms each, %.1f Mbit/s, %s, %dx%d",
                  statFrames_ / span, statEncode_ * 1000 / statFrames_, double(statBytes_) * 8 / span / 1e6,
                  videoWanted_ && !videoFailed_ ? "H.264" : "tiles", int(size.width), int(size.height));
    log(line);
  }
  statFrames_ = 0;
  statEncode_ = 0;
  statBytes_ = 0;
  statStart_ = now;
}

void HostSession::tryCapture(bool fromAck) {
  if (phase_ != Phase::running || paused_) return;
  const double now = loop_.now();
  if (now - lastCapture_ < rate_.frameGap()) return;
  if (!frames_.frames().empty() && now - frames_.frames().front().started > kFrameTimeout) {
    frames_.clear();
    wantFull_ = true;
    if (!fromAck) rate_.due(false);
  } else {
    const bool room = frames_.hasRoom();
    if (!fromAck) rate_.due(!room);
    if (!room) return;
  }
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
  if (!frames_.start(*frame)) return;
  for (auto& packet : frames_.nextPackets(kChunkBudget)) send(packet);
}

std::optional<Bytes> HostSession::captureBlob() {
  // Tiles go out 64 at a time: what a large change or a full picture left
  // over comes from the picture already taken, changed or not.
  const bool tilesLeft = !(videoWanted_ && !videoFailed_) && tiles_.more();
  PictureRef picture = capturer_->slot.take(wantFull_ || tilesLeft);
  if (!picture) return std::nullopt;
  if (videoWanted_ && !videoFailed_) {
    if (auto video = videoBlob(*picture)) return video;
    if (!videoFailed_) return std::nullopt;  // the encoder held this picture back
  }
  rendering_ = Rendering::tiles;
  auto update = tiles_.update(*picture, wantFull_);
  if (!update) return std::nullopt;
  return PictureBlob::tiles(*update);
}

std::optional<Bytes> HostSession::videoBlob(const Picture& picture) {
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
