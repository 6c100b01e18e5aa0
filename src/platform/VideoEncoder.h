#pragma once
// An H.264 encoder as the host session uses it: captured BGRA pictures of one
// size in, an Annex B byte stream out (every NAL unit behind 00 00 00 01, the
// parameter sets in front of every key frame), one picture per call, so the
// caller measures the real encode time. The platform factory makes them.
//
// Owner: the host session; one thread at a time. Holds no callbacks.

#include "core/Bytes.h"
#include "platform/Picture.h"

namespace plimo {

class VideoEncoder {
 public:
  virtual ~VideoEncoder() = default;

  // Encodes one picture of the encoder's size; `forceKey` makes it a key
  // frame (an IDR picture with parameter sets). Returns its bytes, empty when
  // the encoder produced nothing for it. Throws Failure::Kind::h264Encode for
  // a picture of another size or when the codec fails.
  virtual Bytes encode(const Picture& picture, bool forceKey) = 0;

  // Whether the video hardware encodes.
  virtual bool hardware() const = 0;
  virtual int width() const = 0;
  virtual int height() const = 0;
};

}  // namespace plimo
