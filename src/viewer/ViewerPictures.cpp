// How a received picture is shown: the frame transfers, tile updates into
// the canvas, H.264 through the decoder, the fall-back from video to tiles,
// and the saved first picture.

#include "viewer/ViewerPictures.h"

#include <cstdio>
#include <cstring>

#include "core/StageLog.h"
#include "protocol/wire/ChannelMsg.h"

namespace plimo {

namespace {

// The first picture is saved this long after it arrives, so that a picture
// built of several updates is complete.
constexpr double kDumpDelay = 3.0;
// "Frames shown" is logged for the first frame and every this many after.
constexpr int kFramesLogged = 300;
// A full picture is asked for every this many ticks (1 s) until one is shown.
constexpr int kFullPictureTicks = 10;
// A windowed frame whose chunks stopped this long is asked for again.
constexpr double kWindowQuiet = 0.02;
constexpr double kStatsPeriod = 10.0;

}  // namespace

ViewerPictures::ViewerPictures(EventLoop& loop, PlatformFactory& platform, Events events,
                               std::optional<std::string> dumpPicture, bool videoOnThread)
    : loop_(loop),
      platform_(platform),
      events_(std::move(events)),
      dumpPicture_(std::move(dumpPicture)),
      frames_(loop),
      window_(loop),
      videoOnThread_(videoOnThread),
      statStart_(loop.now()) {}

void ViewerPictures::receive(ByteView packet) {
  if (packet[0] == SessionPacket::kFrameChunk) {
    auto result = frames_.handleChunk(packet);
    sendIf(result.reply);
    if (result.blob && !result.blob->empty()) showFrame(*result.blob);
    return;
  }
  auto result = window_.handleChunk(packet);
  sendIf(result.reply);
  for (auto& blob : result.blobs)
    if (!blob.empty() && !closed_) showFrame(blob);
}

void ViewerPictures::tick() {
  ++ticks_;
  if (loop_.now() - statStart_ >= kStatsPeriod - 1e-6) logStatistics();
  if (!gotFirstFrame_.get() && ticks_ % kFullPictureTicks == 0) requestFull();
  sendIf(frames_.pendingNack());
}

void ViewerPictures::quickTick() {
  sendIf(frames_.quickNack());
  for (auto& nack : window_.pendingNacks(kWindowQuiet)) events_.send(nack);
}

void ViewerPictures::requestFull() const { events_.send(Bytes{SessionPacket::kFullPicture}); }

void ViewerPictures::close() {
  closed_ = true;
  dumpTimer_.reset();
  decoding_.reset();
  display_ = nullptr;
}

void ViewerPictures::sendIf(const std::optional<Bytes>& packet) const {
  if (packet) events_.send(*packet);
}

void ViewerPictures::logStatistics() {
  const double now = loop_.now();
  if (statFrames_ > 0) {
    char line[160];
    std::snprintf(line, sizeof line, "Viewer: %.1f pictures/s, decode %.1f ms each, %s",
                  statFrames_ / (now - statStart_), statDecode_ * 1000 / statFrames_,
                  usingVideo_.get() ? "H.264" : "tiles");
    log(line);
  }
  statFrames_ = 0;
  statDecode_ = 0;
  statStart_ = now;
}

size_t ViewerPictures::frameBytesHeld() const {
  size_t held = frames_.current() ? frames_.current()->bytes : 0;
  for (const auto& [id, frame] : window_.frames()) held += frame.bytes;
  return held;
}

void ViewerPictures::showFrame(ByteView frame) {
  stageMark("received");
  const auto contents = PictureBlob::decode(frame);
  if (!contents) return;
  ++frameSerial_;
  if (contents->format == PictureBlob::Format::video) return decodeVideo(*contents);
  if (!showTiles(contents->body)) return;
  tilesSerial_ = frameSerial_;
  shown(contents->format);
}

// Only frames that put a picture on the screen count as shown: a video frame
// still waiting for its key frame shows nothing, and the requests for a full
// picture go on meanwhile.
void ViewerPictures::shown(PictureBlob::Format format) {
  const bool video = format == PictureBlob::Format::video;
  gotFirstFrame_.set(true);
  ++framesShown_;
  ++statFrames_;
  if (int(format) != lastFormat_) {
    lastFormat_ = int(format);
    const Size size = remoteSize_.get();
    log(std::string("Picture now as ") + (video ? "H.264 video" : "tiles") + " (frame " +
        std::to_string(framesShown_) + ", " + std::to_string(int(size.width)) + " x " +
        std::to_string(int(size.height)) + ")");
  }
  if (framesShown_ == 1 && dumpPicture_) {
    dumpTimer_ = loop_.after(kDumpDelay, guard_.weakly([path = *dumpPicture_](ViewerPictures& p) {
      p.savePicture(path);
    }));
  }
  if (framesShown_ == 1 || framesShown_ % kFramesLogged == 0) log("Frames shown: " + std::to_string(framesShown_));
}

bool ViewerPictures::showTiles(ByteView update) {
  try {
    tiles_.apply(update, [this] { return sizeChanges_.take(loop_.now(), kSizeChanges); });
  } catch (const Failure& failure) {
    log("Bad screen update (" + failure.text() + "); asking for a full picture");
    gotFirstFrame_.set(false);
    requestFull();
    return false;
  }
  usingVideo_.set(false);
  rendering_.set(Rendering::tiles);
  if (auto image = tiles_.image()) {
    remoteSize_.set({double(image->width), double(image->height)});
    stageMark("applied");
    if (display_) display_->show(*image);
  }
  return true;
}

void ViewerPictures::decodeVideo(const PictureBlob::Contents& frame) {
  if (closed_) return;
  std::unique_ptr<VideoDecoder> fresh;
  if (!haveDecoder_ || frame.width != decW_ || frame.height != decH_) {
    fresh = platform_.videoDecoder();
    haveDecoder_ = true;
    decW_ = frame.width;
    decH_ = frame.height;
  }
  if (!decoding_) {
    decoding_ = std::make_unique<VideoDecodeThread>(
        loop_, videoOnThread_, [this](VideoDecodeThread::Decoded decoded) { showVideo(std::move(decoded)); });
  }
  if (decoding_->decode({frameSerial_, frame.width, frame.height}, frame.body, std::move(fresh))) return;
  // The decoder fell behind and lost its frames: a new one starts at the key
  // frame a full picture brings.
  haveDecoder_ = false;
  requestFull();
}

void ViewerPictures::showVideo(VideoDecodeThread::Decoded decoded) {
  statDecode_ += decoded.seconds;
  if (decoded.failure) {
    log("H.264 decode failed: " + *decoded.failure);
    giveVideoUp();
    return;
  }
  // A tile update that came after this frame is on the screen already.
  if (decoded.frame.serial < tilesSerial_) return;
  const PictureRef& picture = decoded.picture;
  const int width = decoded.frame.width, height = decoded.frame.height;
  // The visible size must lie inside the decoded picture, or the view would
  // read past it.
  if (!picture || width > picture->width || height > picture->height || width < 1 || height < 1) return;
  usingVideo_.set(true);
  if (rendering_.set(videoRendering(decoded.hardware)))
    log(decoded.hardware ? "Video decoded by this PC's video hardware" : "Video decoded in software");
  // Kept only to be saved: a picture held here is one the decoder cannot reuse.
  if (dumpPicture_) lastPicture_ = picture;
  remoteSize_.set({double(width), double(height)});
  stageMark("applied");
  if (display_) display_->show(picture, width, height);
  shown(PictureBlob::Format::video);
}

void ViewerPictures::giveVideoUp() {
  haveDecoder_ = false;
  lastPicture_.reset();
  if (!videoFailed_) {
    videoFailed_ = true;
    events_.note("This PC could not show the video stream; using pictures instead.");
  }
  events_.onVideoFailed();
  requestFull();
}

void ViewerPictures::savePicture(const std::string& path) {
  std::optional<Picture> picture;
  const Size size = remoteSize_.get();
  if (usingVideo_.get() && lastPicture_) {
    // The visible part lies at the decoded picture's top left.
    picture.emplace(int(size.width), int(size.height));
    for (int y = 0; y < picture->height; ++y)
      std::memcpy(picture->row(y), lastPicture_->row(y), size_t(picture->stride));
  } else if (tiles_.width() > 0) {
    picture.emplace(tiles_.width(), tiles_.height());
    std::memcpy(picture->pixels.data(), tiles_.pixels().data(), picture->pixels.size());
  }
  if (!picture) return;
  if (platform_.writePng(path, *picture)) {
    log("Picture saved to " + path);
  } else {
    log("Could not save the picture to " + path);
  }
}

}  // namespace plimo
