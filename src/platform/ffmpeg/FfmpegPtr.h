#pragma once
// Owning pointers for libavcodec, libavutil and libswscale objects, so that
// the H.264 encoder and decoder free them one way. Only code that links FFmpeg
// includes this.

#include <memory>

struct AVBufferRef;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace plimo {

struct FfmpegFree {
  void operator()(AVBufferRef* buffer) const;
  void operator()(AVCodecContext* codec) const;
  void operator()(AVFrame* frame) const;
  void operator()(AVPacket* packet) const;
  void operator()(SwsContext* scaler) const;
};

template <typename T>
using FfmpegPtr = std::unique_ptr<T, FfmpegFree>;

}  // namespace plimo
