#pragma once
// H.264 decoding beside the session's thread, so that the window's thread
// only paints: frames go in order to one thread of its own, which decodes
// them and hands each result back to the session's loop in the same order.
// A decoder that falls kMaxWaiting frames behind loses the frames waiting:
// they are dropped with the decoder, and the caller starts a new one (whose
// pictures begin at the next key frame), since a late picture is worth less
// than a new one.
//
// Unthreaded, each frame is decoded and answered within `decode` (the fakes'
// way, so that tests run in virtual time).
//
// Owner: ViewerPictures; its thread only, where `decoded` runs. Nothing is
// answered once it is destroyed; destruction waits for the frame being
// decoded.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "core/Bytes.h"
#include "core/EventLoop.h"
#include "core/Weakly.h"
#include "platform/Picture.h"
#include "platform/VideoDecoder.h"

namespace plimo {

class VideoDecodeThread {
 public:
  // What the frame's header says, handed back with its picture.
  struct Frame {
    uint64_t serial = 0;
    int width = 0, height = 0;
  };
  struct Decoded {
    Frame frame;
    PictureRef picture;  // null when the frame shows nothing yet
    bool hardware = false;
    double seconds = 0;  // spent decoding
    // The decoder's text when it failed; it is gone then, and the frames
    // after it show nothing until `decode` brings a new one.
    std::optional<std::string> failure;
  };

  static constexpr size_t kMaxWaiting = 8;

  VideoDecodeThread(EventLoop& loop, bool threaded, std::function<void(Decoded)> decoded);
  ~VideoDecodeThread();
  VideoDecodeThread(const VideoDecodeThread&) = delete;
  VideoDecodeThread& operator=(const VideoDecodeThread&) = delete;

  // Decodes `frame` after those given before; `fresh`, when given, replaces
  // the decoder first. False, with nothing queued, when kMaxWaiting frames
  // wait already: they and the decoder are dropped.
  bool decode(Frame frame, ByteView bytes, std::unique_ptr<VideoDecoder> fresh);

 private:
  struct Job {
    Frame frame;
    Bytes bytes;
    std::unique_ptr<VideoDecoder> fresh;
  };
  Decoded run(Job& job);
  void work();

  EventLoop& loop_;
  const bool threaded_;
  const std::function<void(Decoded)> decoded_;
  std::unique_ptr<VideoDecoder> decoder_;  // the thread's, once it runs

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> jobs_;
  bool dropDecoder_ = false;
  bool stop_ = false;
  LifeGuard<VideoDecodeThread> guard_{this};
  std::thread thread_;  // started with the first frame
};

}  // namespace plimo
