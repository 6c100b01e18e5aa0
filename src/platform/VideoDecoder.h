#pragma once
// An H.264 decoder as the viewer session uses it: one frame's Annex B bytes
// in, its picture out, synchronously. The platform factory makes them.
//
// Owner: the viewer session; one thread at a time. Holds no callbacks.

#include "core/Bytes.h"
#include "platform/Picture.h"

namespace plimo {

class VideoDecoder {
 public:
  virtual ~VideoDecoder() = default;

  // Decodes one frame's bytes. Returns its picture (BGRA, of the size the
  // stream's parameter sets declare; the view crops it to the size in the
  // frame header), or null when there is nothing to show yet. Throws
  // Failure::Kind::h264Decode or h264NoSession when the frame cannot be
  // decoded. The picture is the caller's to keep.
  virtual PictureRef decode(ByteView data) = 0;

  // Whether the last picture really came from the video hardware.
  virtual bool hardware() const = 0;
};

}  // namespace plimo
