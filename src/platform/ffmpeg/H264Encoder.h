#pragma once
// The FFmpeg VideoEncoder, for viewers that show video: captured BGRA pictures in, an
// Annex B byte stream out (every NAL unit behind 00 00 00 01, the sequence and
// picture parameter sets in front of every key frame). Each call encodes one
// picture and returns its bytes, so the caller measures the real encode time.
//
// The video hardware's encoder (h264_vaapi) where a VAAPI device opens it,
// else libx264; both through libavcodec with real-time settings (no
// look-ahead, no B-frames, no frame threads or queue: the bytes of a picture
// come out of the call that took it). `hardware` says which one runs.
//
// Made by the Linux platform factory (and the fake one); owner: the host
// session; one thread at a time. Holds no callbacks.

#include <cstdint>
#include <memory>

#include "core/Bytes.h"
#include "core/Failure.h"
#include "platform/Picture.h"
#include "platform/VideoEncoder.h"
#include "platform/ffmpeg/FfmpegPtr.h"

namespace plimo {

class H264Encoder final : public VideoEncoder {
 public:
  // Opens an encoder for width × height pictures arriving `fps` times a
  // second (60 or 30); the bit rate follows h264BitRateKbps. Throws
  // Failure::Kind::h264Create, with libavcodec's status as code and text
  // "create(status)", when no encoder can be opened for this size.
  H264Encoder(int width, int height, int fps);
  ~H264Encoder() override;
  H264Encoder(const H264Encoder&) = delete;
  H264Encoder& operator=(const H264Encoder&) = delete;

  // Encodes one picture of the encoder's size; `forceKey` makes it a key
  // frame (an IDR picture with parameter sets). Returns its Annex B bytes,
  // empty when the encoder produced nothing for it. Throws
  // Failure::Kind::h264Encode (text "encode(status)") for a picture of
  // another size or too few bytes, or when the codec fails.
  Bytes encode(const Picture& picture, bool forceKey) override;

  bool hardware() const override { return hardware_; }
  int width() const override { return width_; }
  int height() const override { return height_; }
  // Pictures submitted; picture n is stamped n/30 s whatever the rate.
  int64_t frameCount() const { return frameCount_; }
  // The stamp libavcodec gave back with the last output, in 1/30 s.
  int64_t lastPresentationTime() const { return lastPts_; }

 private:
  // Opens h264_vaapi on the first VAAPI device; false when there is none or
  // it refuses this size.
  bool openHardware(int fps);
  // Opens libx264; throws Failure::Kind::h264Create.
  void openSoftware(int fps);
  void convert(const Picture& picture);

  FfmpegPtr<AVCodecContext> session_;
  FfmpegPtr<AVFrame> frame_;  // the picture in YUV 4:2:0, as converted
  FfmpegPtr<AVBufferRef> hardwareFrames_;  // the video hardware's surface pool
  FfmpegPtr<AVFrame> hardwareFrame_;        // the surface handed to the hardware
  FfmpegPtr<AVPacket> packet_;
  // BGRA → YUV 4:2:0 in bands of rows: only bands that changed since the last
  // picture are converted again (typing changes a band or two of 68).
  FfmpegPtr<SwsContext> bandScaler_;
  FfmpegPtr<SwsContext> lastBandScaler_;  // the shorter band at the bottom, if any
  Bytes previous_;  // the picture last converted, rows without padding
  bool converted_ = false;
  bool hardware_ = false;
  int width_;
  int height_;
  int64_t frameCount_ = 0;
  int64_t lastPts_ = 0;
};

}  // namespace plimo
