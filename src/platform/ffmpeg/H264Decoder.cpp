#include "platform/ffmpeg/H264Decoder.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/hwcontext.h>
#include <libswscale/swscale.h>
}

#include "platform/H264Units.h"

namespace plimo {

namespace {

// The largest picture any H.264 level allows (level 6.2: 139,264 macroblocks
// of 16 × 16, e.g. 8192 × 4320). A stream claiming more is refused before
// anything of its size is allocated.
constexpr int64_t kMaxPixels = 139264 * 256;

// The avcC record that carries the two parameter sets to libavcodec, with
// 4-byte unit lengths in the samples. Empty when the sets cannot be put in one.
Bytes decoderConfiguration(ByteView sps, ByteView pps) {
  if (sps.size() < 4 || sps.size() > 0xFFFF || pps.empty() || pps.size() > 0xFFFF) return {};
  Bytes out{1, sps[1], sps[2], sps[3], 0xFF /* lengths of 4 bytes */, 0xE1 /* one SPS */};
  appendBE(out, uint16_t(sps.size()));
  append(out, sps);
  out.push_back(1);  // one PPS
  appendBE(out, uint16_t(pps.size()));
  append(out, pps);
  return out;
}

// The first GPU's VAAPI device, opened once for the process (null when there
// is none): viewers make a decoder for every new picture size.
AVBufferRef* videoDevice() {
  static AVBufferRef* const device = [] {
    AVBufferRef* opened = nullptr;
    return av_hwdevice_ctx_create(&opened, AV_HWDEVICE_TYPE_VAAPI, "/dev/dri/renderD128", nullptr, 0) >= 0 ? opened
                                                                                                          : nullptr;
  }();
  return device;
}

bool sameBytes(ByteView a, const Bytes& b) { return std::equal(a.begin(), a.end(), b.begin(), b.end()); }

// The text form of the viewer's log lines: the step, then the status.
Failure decodeFailed(int status) {
  return Failure(Failure::Kind::h264Decode, "decode(" + std::to_string(status) + ")", status);
}

}  // namespace

H264Decoder::H264Decoder()
    : frame_(av_frame_alloc()), downloaded_(av_frame_alloc()), packet_(av_packet_alloc()) {}

H264Decoder::~H264Decoder() = default;

PictureRef H264Decoder::decode(ByteView data) {
  const H264Frame units = sortUnits(data);
  if (!units.sps.empty() && !units.pps.empty() &&
      (!session_ || !sameBytes(units.sps, sps_) || !sameBytes(units.pps, pps_))) {
    sps_.assign(units.sps.begin(), units.sps.end());
    pps_.assign(units.pps.begin(), units.pps.end());
    makeSession();
  }
  if (!session_ || units.sample.empty()) return nullptr;

  if (!frame_ || !downloaded_ || !packet_ || units.sample.size() > size_t(INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE) ||
      av_new_packet(packet_.get(), int(units.sample.size())) < 0)
    throw Failure(Failure::Kind::h264NoSession, "noSession");
  std::memcpy(packet_->data, units.sample.data(), units.sample.size());
  const int sent = avcodec_send_packet(session_.get(), packet_.get());
  av_packet_unref(packet_.get());
  if (sent < 0) throw decodeFailed(sent);
  const int status = avcodec_receive_frame(session_.get(), frame_.get());
  if (status == AVERROR(EAGAIN)) return nullptr;
  if (status < 0) throw decodeFailed(status);
  hardware_ = frame_->format == AV_PIX_FMT_VAAPI;
  if (!hardware_) {
    auto picture = convert(*frame_);
    av_frame_unref(frame_.get());
    return picture;
  }
  av_frame_unref(downloaded_.get());
  int copied = av_hwframe_transfer_data(downloaded_.get(), frame_.get(), 0);
  if (copied >= 0) copied = av_frame_copy_props(downloaded_.get(), frame_.get());
  av_frame_unref(frame_.get());
  if (copied < 0) throw decodeFailed(copied);
  auto picture = convert(*downloaded_);
  av_frame_unref(downloaded_.get());
  return picture;
}

void H264Decoder::makeSession() {
  session_.reset();
  hardware_ = false;
  const Bytes configuration = decoderConfiguration(sps_, pps_);
  if (configuration.empty()) throw decodeFailed(AVERROR_INVALIDDATA);
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  if (!codec) throw decodeFailed(AVERROR_DECODER_NOT_FOUND);
  FfmpegPtr<AVCodecContext> session(avcodec_alloc_context3(codec));
  if (!session) throw decodeFailed(AVERROR(ENOMEM));
  session->extradata = static_cast<uint8_t*>(av_mallocz(configuration.size() + AV_INPUT_BUFFER_PADDING_SIZE));
  if (!session->extradata) throw decodeFailed(AVERROR(ENOMEM));
  std::memcpy(session->extradata, configuration.data(), configuration.size());
  session->extradata_size = int(configuration.size());
  // Each frame's picture comes out of the call that took it: no reordering
  // delay (our hosts send no B-frames) and no frame threads. Slice threads
  // add no delay: our hosts cut each picture into two slices.
  session->flags |= AV_CODEC_FLAG_LOW_DELAY;
  session->thread_type = FF_THREAD_SLICE;
  session->thread_count = 2;
  session->max_pixels = kMaxPixels;
  // With a device, libavcodec decodes on it when the hardware takes the
  // stream's profile and size, and falls back to software by itself when not.
  if (AVBufferRef* device = videoDevice()) session->hw_device_ctx = av_buffer_ref(device);
  if (int status = avcodec_open2(session.get(), codec, nullptr); status < 0) throw decodeFailed(status);
  session_ = std::move(session);
  ++sessionsBuilt_;
}

PictureRef H264Decoder::convert(const AVFrame& frame) {
  const int matrix = frame.colorspace;
  const int range = frame.color_range == AVCOL_RANGE_JPEG || frame.format == AV_PIX_FMT_YUVJ420P ? 1 : 0;
  if (!scaler_ || frame.format != scalerFormat_ || frame.width != scalerWidth_ || frame.height != scalerHeight_ ||
      matrix != scalerMatrix_ || range != scalerRange_) {
    scaler_.reset(sws_getCachedContext(scaler_.release(), frame.width, frame.height, AVPixelFormat(frame.format),
                                       frame.width, frame.height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr,
                                       nullptr));
    if (!scaler_) throw decodeFailed(AVERROR(EINVAL));
    // Unspecified matrices read as BT.601, the one our hosts use.
    sws_setColorspaceDetails(scaler_.get(), sws_getCoefficients(matrix), range, sws_getCoefficients(SWS_CS_DEFAULT),
                             1, 0, 1 << 16, 1 << 16);
    scalerFormat_ = frame.format;
    scalerWidth_ = frame.width;
    scalerHeight_ = frame.height;
    scalerMatrix_ = matrix;
    scalerRange_ = range;
  }
  const size_t rowBytes = size_t(frame.width) * 4;
  // The view paints the picture it was handed while the next one is decoded
  // (on another thread): two pictures in turn spare a new one per frame.
  auto reusable = [&](const std::shared_ptr<Picture>& p) {
    return p && p.use_count() == 1 && p->width == frame.width && p->height == frame.height;
  };
  if (!reusable(picture_)) {
    std::swap(picture_, spare_);
    if (!reusable(picture_)) picture_ = std::make_shared<Picture>(frame.width, frame.height);
  }
  // Its last other holder may have let it go on another thread.
  std::atomic_thread_fence(std::memory_order_acquire);
  uint8_t* target[4] = {picture_->pixels.data(), nullptr, nullptr, nullptr};
  const int targetStride[4] = {int(rowBytes), 0, 0, 0};
  sws_scale(scaler_.get(), frame.data, frame.linesize, 0, frame.height, target, targetStride);
  return picture_;
}

}  // namespace plimo
