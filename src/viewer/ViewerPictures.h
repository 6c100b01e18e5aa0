#pragma once
// The helped PC's screen on this side: the chunks of both frame transfers
// put together, tile updates into the canvas, H.264 through the decoder on
// a thread of its own (falling back to tiles for good when it fails), each
// picture handed to the view in the order the frames came, a statistics line
// every 10 s, and the first picture saved when asked.
//
// What a host can make it hold is bounded: one tile canvas of at most
// 16384 × 16384 (TileFormat; the view reads it in place, and its size
// changes at most kSizeChanges), the inflated update being applied, the
// decoder's pictures (H264Decoder's of at most 35.6 million pixels) and the
// frames waiting for it (VideoDecodeThread::kMaxWaiting), one
// single-frame transfer of at most 65,535 chunks (78 MB), and the windowed
// transfer's next frame plus FrameWindowReceiver::kMaxHeldAhead.
//
// Owner: the viewer session; its thread only. Nothing is shown or sent once
// `close` returns; the view set by `setDisplay` must stay valid until it is
// replaced or cleared.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/Bytes.h"
#include "core/EventLoop.h"
#include "core/Observable.h"
#include "core/TokenBucket.h"
#include "core/Weakly.h"
#include "platform/Geometry.h"
#include "platform/PlatformFactory.h"
#include "platform/Rendering.h"
#include "protocol/wire/FrameChunk.h"
#include "protocol/wire/FrameReceiver.h"
#include "protocol/wire/FrameWindowReceiver.h"
#include "protocol/wire/SessionCodecs.h"
#include "viewer/ScreenDisplay.h"
#include "viewer/TileCanvas.h"
#include "viewer/VideoDecodeThread.h"

namespace plimo {

namespace testkit {
struct ViewerSessionTestKit;
}

class ViewerPictures {
 public:
  struct Events {
    std::function<void(ByteView)> send;
    std::function<void(const std::string&)> log;
    // A notice for the helper.
    std::function<void(const std::string&)> note;
    // The video stream cannot be shown: the host is asked for tiles only.
    std::function<void()> onVideoFailed;
  };

  // The most frame bytes a host can make this viewer hold: one unfinished
  // single-frame transfer, the windowed transfer's next frame (each at most
  // 65,535 chunks of 1200 bytes), and the frames held beyond it.
  static constexpr size_t kMaxFrameBytes =
      2 * FrameChunk::kMaxChunks * FrameChunk::kPayload + FrameWindowReceiver::kMaxHeldAhead;
  // New screen sizes that tile updates may bring, each a new canvas of up to
  // 1 GiB: 4 a second, 4 at once; an update beyond them is a bad one. A real
  // screen changes size rarely: a monitor picked, a display set up anew.
  static constexpr Rate kSizeChanges{4, 4};

  // `dumpPicture`: where the first picture is written as PNG, 3 s after it
  // arrives. `videoOnThread`: H.264 is decoded beside the loop's thread
  // (else within `receive`).
  ViewerPictures(EventLoop& loop, PlatformFactory& platform, Events events, std::optional<std::string> dumpPicture,
                 bool videoOnThread);
  ViewerPictures(const ViewerPictures&) = delete;
  ViewerPictures& operator=(const ViewerPictures&) = delete;

  // A chunk of either frame transfer.
  void receive(ByteView packet);
  // Every 100 ms: the statistics, a full picture asked for each second until
  // one is shown, the single-frame transfer's negative acknowledgements.
  void tick();
  // Every 10 ms: the quick negative acknowledgements of both transfers.
  void quickTick();
  void requestFull() const;
  void close();
  void setDisplay(ScreenDisplay* display) { display_ = display; }

  const Observable<bool>& gotFirstFrame() const { return gotFirstFrame_; }
  const Observable<Size>& remoteSize() const { return remoteSize_; }
  const Observable<bool>& usingVideo() const { return usingVideo_; }
  const Observable<Rendering>& rendering() const { return rendering_; }
  int framesShown() const { return framesShown_; }
  const TileCanvas& tiles() const { return tiles_; }
  // Payload bytes held for frames not yet complete, in both transfers.
  size_t frameBytesHeld() const;

 private:
  friend struct testkit::ViewerSessionTestKit;

  void showFrame(ByteView frame);
  // A frame put a picture on the screen.
  void shown(PictureBlob::Format format);
  bool showTiles(ByteView update);
  void decodeVideo(const PictureBlob::Contents& frame);
  void showVideo(VideoDecodeThread::Decoded decoded);
  void giveVideoUp();
  void logStatistics();
  void savePicture(const std::string& path);
  void log(const std::string& text) const { events_.log(text); }
  void sendIf(const std::optional<Bytes>& packet) const;

  EventLoop& loop_;
  PlatformFactory& platform_;
  const Events events_;
  const std::optional<std::string> dumpPicture_;
  bool closed_ = false;
  ScreenDisplay* display_ = nullptr;

  FrameReceiver frames_;
  FrameWindowReceiver window_;
  TileCanvas tiles_;
  TokenBucket sizeChanges_;
  const bool videoOnThread_;
  bool haveDecoder_ = false;  // the decoding thread has one for decW_ x decH_
  int decW_ = 0, decH_ = 0;
  uint64_t frameSerial_ = 0;
  uint64_t tilesSerial_ = 0;  // of the last tile update shown: older video is not
  bool videoFailed_ = false;
  PictureRef lastPicture_;  // the last decoded video picture

  int framesShown_ = 0;
  int lastFormat_ = 255;
  int ticks_ = 0;
  int statFrames_ = 0;
  double statDecode_ = 0;
  double statStart_ = 0;

  Observable<bool> gotFirstFrame_{false};
  Observable<Size> remoteSize_;
  Observable<bool> usingVideo_{false};
  Observable<Rendering> rendering_{Rendering::none};

  Timer dumpTimer_;
  // Started with the first video frame; it goes before the members its
  // answers touch.
  std::unique_ptr<VideoDecodeThread> decoding_;
  LifeGuard<ViewerPictures> guard_{this};
};

}  // namespace plimo
