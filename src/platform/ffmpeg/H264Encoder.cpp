#include "platform/ffmpeg/H264Encoder.h"

#include <algorithm>
#include <cstring>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/hwcontext.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "platform/H264BitRate.h"
#include "platform/Yuv420.h"

namespace plimo {

namespace {

// Pictures are stamped in 1/30 s steps whatever the rate; rate control uses
// the declared rate instead (force-cfr), so the stamps never skew the bit rate.
constexpr AVRational kTimeBase{1, 30};

// A key frame at least once a minute: a viewer that lost the stream without
// asking for a key frame recovers within that time.
constexpr int kKeyFrameSeconds = 60;

// Real-time settings. ultrafast spends the fewest cycles per picture; CABAC
// is switched back on because it shrinks text-heavy pictures a lot for little
// cost and keeps the stream in the Main profile. zerolatency: no look-ahead,
// no B-frames, no frame threads, so each call returns its own picture's bytes.
// Two sliced threads: each picture is cut into two slices coded at once, which
// adds no delay (unlike frame threads) and halves the encode time on two
// cores, so scrolling 1080p (about 14 ms on one thread) stays under the 13 ms
// at which the host falls back to 30 pictures a second. Measured here
// (bench_video, BM_Encode1080p): the bytes per picture stay within 4 %.
constexpr const char* kPreset = "ultrafast";
constexpr const char* kTune = "zerolatency";
constexpr const char* kProfile = "main";
// No scene-cut key frames: the viewer asks for a key frame when it needs
// one, and the stream's parameter sets stay where the caller put them.
constexpr const char* kX264Params = "cabac=1:scenecut=0:force-cfr=1:sliced-threads=1";
constexpr int kThreads = 2;

// The first GPU's render node: where VAAPI is, and openable without a display.
constexpr const char* kRenderNode = "/dev/dri/renderD128";

// Rows converted together: one row of macroblocks, the unit the encoder
// codes anyway. Chroma is averaged over 2 × 2 pixels (SWS_AREA), so a band's
// result depends on its own rows only: bands converted at different times fit
// together as if converted at once, and moved content converts alike wherever
// it lands (a bilinear filter reaching across band edges cost a scroll 19%
// more bytes).
constexpr int kBandRows = 16;

// Every NAL unit goes out behind the 4-byte start code; x264 uses the short
// one inside a picture. A 00 00 01 that follows a non-zero byte gets a zero in
// front (the stream's emulation prevention keeps 00 00 01 out of unit bodies).
Bytes withLongStartCodes(ByteView data) {
  Bytes out;
  out.reserve(data.size() + 16);
  for (size_t i = 0; i < data.size(); ++i) {
    if (i + 2 < data.size() && data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && (i == 0 || data[i - 1] != 0))
      out.push_back(0);
    out.push_back(data[i]);
  }
  return out;
}

// The text form of the host's log lines: the step, then the status.
Failure createFailed(int status) {
  return Failure(Failure::Kind::h264Create, "create(" + std::to_string(status) + ")", status);
}

Failure encodeFailed(int status) {
  return Failure(Failure::Kind::h264Encode, "encode(" + std::to_string(status) + ")", status);
}

// What both encoders share: size, stamps, rate, key-frame interval, no
// B-frames, and the colours the conversion makes (BT.601, video range),
// written into the stream so that any decoder converts them back alike.
void configure(AVCodecContext* c, int width, int height, int fps) {
  c->width = width;
  c->height = height;
  c->time_base = kTimeBase;
  c->framerate = AVRational{fps, 1};
  c->bit_rate = int64_t(h264BitRateKbps(width, height, fps)) * 1000;
  c->gop_size = fps * kKeyFrameSeconds;
  c->max_b_frames = 0;
  c->colorspace = AVCOL_SPC_SMPTE170M;
  c->color_range = AVCOL_RANGE_MPEG;
}

}  // namespace

H264Encoder::H264Encoder(int width, int height, int fps) : width_(width), height_(height) {
  if (width <= 0 || height <= 0 || fps <= 0) throw createFailed(AVERROR(EINVAL));
  frame_.reset(av_frame_alloc());
  packet_.reset(av_packet_alloc());
  if (!frame_ || !packet_) throw createFailed(AVERROR(ENOMEM));
  hardware_ = openHardware(fps);
  if (!hardware_) openSoftware(fps);

  // The picture the conversion writes: NV12 for the video hardware to take in,
  // planar 4:2:0 for x264.
  const AVPixelFormat format = hardware_ ? AV_PIX_FMT_NV12 : AV_PIX_FMT_YUV420P;
  frame_->format = format;
  frame_->width = width;
  frame_->height = height;
  if (int status = av_frame_get_buffer(frame_.get(), 0); status < 0) throw createFailed(status);
  // x264's planar 4:2:0 comes from Yuv420, the hardware's NV12 from swscale.
  auto scaler = [&](int rows) {
    return sws_getContext(width, rows, AV_PIX_FMT_BGRA, width, rows, format, SWS_AREA, nullptr, nullptr, nullptr);
  };
  if (hardware_ && height >= kBandRows) {
    bandScaler_.reset(scaler(kBandRows));
    if (!bandScaler_) throw createFailed(AVERROR(EINVAL));
  }
  if (hardware_ && height % kBandRows != 0) {
    lastBandScaler_.reset(scaler(height % kBandRows));
    if (!lastBandScaler_) throw createFailed(AVERROR(EINVAL));
  }
  previous_.resize(size_t(width) * 4 * size_t(height));
}

bool H264Encoder::openHardware(int fps) {
  const AVCodec* codec = avcodec_find_encoder_by_name("h264_vaapi");
  AVBufferRef* device = nullptr;
  // Fails at once where there is no render node: software then.
  if (!codec || av_hwdevice_ctx_create(&device, AV_HWDEVICE_TYPE_VAAPI, kRenderNode, nullptr, 0) < 0) return false;
  FfmpegPtr<AVBufferRef> deviceRef(device);
  FfmpegPtr<AVBufferRef> frames(av_hwframe_ctx_alloc(device));
  FfmpegPtr<AVCodecContext> session(avcodec_alloc_context3(codec));
  if (!frames || !session) return false;
  auto* pool = reinterpret_cast<AVHWFramesContext*>(frames->data);
  pool->format = AV_PIX_FMT_VAAPI;
  pool->sw_format = AV_PIX_FMT_NV12;
  pool->width = width_;
  pool->height = height_;
  pool->initial_pool_size = 4;  // the picture being encoded and its references
  if (av_hwframe_ctx_init(frames.get()) < 0) return false;

  AVCodecContext* c = session.get();
  configure(c, width_, height_, fps);
  c->pix_fmt = AV_PIX_FMT_VAAPI;
  c->profile = FF_PROFILE_H264_MAIN;
  c->hw_frames_ctx = av_buffer_ref(frames.get());
  if (!c->hw_frames_ctx) return false;
  av_opt_set_int(c->priv_data, "async_depth", 1, 0);  // each picture's bytes before the next picture
  if (avcodec_open2(c, codec, nullptr) < 0) return false;
  hardwareFrame_.reset(av_frame_alloc());
  if (!hardwareFrame_) return false;
  hardwareFrames_ = std::move(frames);
  session_ = std::move(session);
  return true;
}

void H264Encoder::openSoftware(int fps) {
  const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
  if (!codec) throw createFailed(AVERROR_ENCODER_NOT_FOUND);
  session_.reset(avcodec_alloc_context3(codec));
  if (!session_) throw createFailed(AVERROR(ENOMEM));
  AVCodecContext* c = session_.get();
  configure(c, width_, height_, fps);
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  c->thread_count = kThreads;
  av_opt_set(c->priv_data, "preset", kPreset, 0);
  av_opt_set(c->priv_data, "tune", kTune, 0);
  av_opt_set(c->priv_data, "profile", kProfile, 0);
  av_opt_set(c->priv_data, "x264-params", kX264Params, 0);
  av_opt_set_int(c->priv_data, "forced-idr", 1, 0);  // a forced key frame is an IDR picture
  if (int status = avcodec_open2(c, codec, nullptr); status < 0) throw createFailed(status);
}

H264Encoder::~H264Encoder() = default;

Bytes H264Encoder::encode(const Picture& picture, bool forceKey) {
  const size_t rowBytes = size_t(width_) * 4;
  if (picture.width != width_ || picture.height != height_ || picture.stride < 0 ||
      size_t(picture.stride) < rowBytes ||
      picture.pixels.size() < (size_t(height_) - 1) * size_t(picture.stride) + rowBytes)
    throw encodeFailed(AVERROR(EINVAL));

  if (int status = av_frame_make_writable(frame_.get()); status < 0) throw encodeFailed(status);
  convert(picture);

  AVFrame* submitted = frame_.get();
  if (hardware_) {
    // Into a surface of the video hardware's pool; the encoder holds its own
    // reference to it until it is done.
    av_frame_unref(hardwareFrame_.get());
    if (int status = av_hwframe_get_buffer(hardwareFrames_.get(), hardwareFrame_.get(), 0); status < 0)
      throw encodeFailed(status);
    if (int status = av_hwframe_transfer_data(hardwareFrame_.get(), frame_.get(), 0); status < 0)
      throw encodeFailed(status);
    submitted = hardwareFrame_.get();
  }
  ++frameCount_;
  submitted->pts = frameCount_;
  submitted->pict_type = forceKey ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  const int sent = avcodec_send_frame(session_.get(), submitted);
  if (hardware_) av_frame_unref(hardwareFrame_.get());
  if (sent < 0) throw encodeFailed(sent);
  int status = avcodec_receive_packet(session_.get(), packet_.get());
  if (status == AVERROR(EAGAIN)) return {};
  if (status < 0) throw encodeFailed(status);
  lastPts_ = packet_->pts;
  Bytes out = withLongStartCodes(ByteView(packet_->data, size_t(packet_->size)));
  av_packet_unref(packet_.get());
  return out;
}

void H264Encoder::convert(const Picture& picture) {
  const size_t rowBytes = size_t(width_) * 4;
  for (int top = 0; top < height_; top += kBandRows) {
    const int rows = std::min(kBandRows, height_ - top);
    bool changed = !converted_;
    for (int y = top; y < top + rows && !changed; ++y)
      changed = std::memcmp(picture.row(y), previous_.data() + size_t(y) * rowBytes, rowBytes) != 0;
    if (!changed) continue;
    for (int y = top; y < top + rows; ++y)
      std::memcpy(previous_.data() + size_t(y) * rowBytes, picture.row(y), rowBytes);
    if (!hardware_) {
      bgraToYuv420(picture.row(top), picture.stride, width_, rows,
                   {frame_->data[0] + size_t(top) * size_t(frame_->linesize[0]),
                    frame_->data[1] + size_t(top / 2) * size_t(frame_->linesize[1]),
                    frame_->data[2] + size_t(top / 2) * size_t(frame_->linesize[2]), frame_->linesize[0],
                    frame_->linesize[1], frame_->linesize[2]});
      continue;
    }
    const uint8_t* source[4] = {picture.row(top), nullptr, nullptr, nullptr};
    const int sourceStride[4] = {picture.stride, 0, 0, 0};
    uint8_t* target[4] = {};
    for (int plane = 0; plane < 3 && frame_->data[plane]; ++plane)  // 3 planes of 4:2:0, 2 of NV12
      target[plane] = frame_->data[plane] + size_t(plane == 0 ? top : top / 2) * size_t(frame_->linesize[plane]);
    sws_scale(rows == kBandRows ? bandScaler_.get() : lastBandScaler_.get(), source, sourceStride, 0, rows, target,
              frame_->linesize);
  }
  converted_ = true;
}

}  // namespace plimo
