#include "platform/ffmpeg/FfmpegPtr.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace plimo {

void FfmpegFree::operator()(AVBufferRef* buffer) const { av_buffer_unref(&buffer); }
void FfmpegFree::operator()(AVCodecContext* codec) const { avcodec_free_context(&codec); }
void FfmpegFree::operator()(AVFrame* frame) const { av_frame_free(&frame); }
void FfmpegFree::operator()(AVPacket* packet) const { av_packet_free(&packet); }
void FfmpegFree::operator()(SwsContext* scaler) const { sws_freeContext(scaler); }

}  // namespace plimo
