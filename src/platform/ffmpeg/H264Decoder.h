#pragma once
// The FFmpeg VideoDecoder, for the video a host sends: one frame's Annex B bytes in, its
// picture out, synchronously. The sequence and picture parameter sets build
// the decoding session; the same sets sent again with every key frame leave it
// alone, different ones rebuild it before the frame's slices are decoded.
//
// FFmpeg's native decoder through libavcodec, without frame threads or
// reordering delay; it decodes on the video hardware (VAAPI) where a device
// takes the stream, and in software otherwise. `hardware` is true only when
// the last picture really came from the hardware.
//
// Made by the Linux platform factory (and the fake one); owner: the viewer
// session; one thread at a time. Holds no callbacks.

#include <cstdint>
#include <memory>

#include "core/Bytes.h"
#include "core/Failure.h"
#include "platform/Picture.h"
#include "platform/VideoDecoder.h"
#include "platform/ffmpeg/FfmpegPtr.h"

namespace plimo {

class H264Decoder final : public VideoDecoder {
 public:
  H264Decoder();
  ~H264Decoder() override;
  H264Decoder(const H264Decoder&) = delete;
  H264Decoder& operator=(const H264Decoder&) = delete;

  // Decodes one frame's bytes. Returns its picture (BGRA, rows without
  // padding, of the size the stream's parameter sets declare; the view crops
  // it to the size in the frame header), or null when there is nothing to
  // show yet (no parameter sets so far, or no slices in the data). Throws
  // Failure::Kind::h264Decode with libavcodec's status as code and text
  // "decode(status)", or Failure::Kind::h264NoSession (text "noSession") when
  // the frame cannot be wrapped for the decoder. The picture is the caller's
  // to keep; the decoder reuses its memory for a later picture only once the
  // caller has let it go (two are kept in turn).
  PictureRef decode(ByteView data) override;

  bool hardware() const override { return hardware_; }
  // Decoding sessions built so far (each new or changed pair of parameter sets).
  int sessionsBuilt() const { return sessionsBuilt_; }

 private:
  void makeSession();
  PictureRef convert(const AVFrame& frame);

  FfmpegPtr<AVCodecContext> session_;
  bool hardware_ = false;
  Bytes sps_;  // the sets the session was built from (units without start codes)
  Bytes pps_;
  FfmpegPtr<AVFrame> frame_;
  FfmpegPtr<AVFrame> downloaded_;  // a hardware picture in main memory
  FfmpegPtr<AVPacket> packet_;
  FfmpegPtr<SwsContext> scaler_;  // decoded format → BGRA
  // What `scaler_` was set up for: format, size, colour matrix, range.
  int scalerFormat_ = -1, scalerWidth_ = 0, scalerHeight_ = 0, scalerMatrix_ = -1, scalerRange_ = -1;
  std::shared_ptr<Picture> picture_;  // the last picture handed out
  std::shared_ptr<Picture> spare_;    // the one before, once let go
  int sessionsBuilt_ = 0;
};

}  // namespace plimo
