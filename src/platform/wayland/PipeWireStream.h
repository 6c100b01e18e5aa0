#pragma once
// One PipeWire video stream (a monitor a desktop shares) read into
// pictures: BGRx or BGRA frames in shared memory, the pointer from the
// stream's metadata drawn in as on X11. Frames come only when something
// changed; one whose buffer carries no pixels (the pointer only moved)
// draws the pointer again over the last frame.
//
// Owner: the Wayland screen source. PipeWire runs on its own thread loop;
// `onPicture` and `onEnded` run there and must not destroy the stream.

#include <functional>
#include <memory>
#include <string>

#include "platform/Picture.h"

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_stream;

namespace plimo {

class PipeWireStream {
 public:
  // Connects to the daemon through `fd` (taken over; -1 for the default
  // daemon) and asks for `node`, of width × height. Blocks until the stream
  // flows or fails; throws Failure(unsupported) when PipeWire cannot be
  // reached or refuses the stream.
  PipeWireStream(int fd, uint32_t node, int width, int height, std::function<void(PictureRef)> onPicture,
                 std::function<void(const std::string&)> onEnded);
  ~PipeWireStream();
  PipeWireStream(const PipeWireStream&) = delete;
  PipeWireStream& operator=(const PipeWireStream&) = delete;

  struct Frame;  // the stream's own state, seen by its callbacks

 private:
  void release();

  pw_thread_loop* loop_ = nullptr;
  pw_context* context_ = nullptr;
  pw_core* core_ = nullptr;
  pw_stream* stream_ = nullptr;
  std::unique_ptr<Frame> frame_;
};

}  // namespace plimo
